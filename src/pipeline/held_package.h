// The downloaded package from the end of its download until it is deleted.
// Two setup programs of one version download to the same path in the
// temporary folder; while this run holds its package, a second one can
// neither empty, replace nor delete it: the second run's download fails
// with "Could not save the download to ..." and this one finishes.
#pragma once

#include <string>

#include "platform/unique_handle.h"

struct HeldPackage {
  std::wstring path;
  // Shared for reading only: tar.exe can read the package, and nobody else
  // can write or delete it. Open for reading, or for reading and writing
  // when this run fetches the package in pieces (CreateHeldPackage).
  UniqueFile file;
};

// Creates (or empties) the package file at path and holds it, for reading
// and writing, from its first byte until it is deleted: the pieces of a
// package fetched by ranges all go through this one handle. False with
// errorText "Could not save the download to <path>" when it cannot be
// created (another setup program holds it).
bool CreateHeldPackage(const std::wstring& path,
                       HeldPackage& held,
                       std::wstring& errorText);

// Takes hold of the package that a download has just written at path.
// False with errorText "Could not save the download to <path>" when another
// setup program took the file since the download ended.
bool HoldPackage(const std::wstring& path,
                 HeldPackage& held,
                 std::wstring& errorText);

// Lets go of a held package and deletes it; nothing when none is held (a
// package that another program holds is never deleted).
void DeleteHeldPackage(HeldPackage& held);
