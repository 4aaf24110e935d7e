#include "pipeline/held_package.h"

#include <windows.h>

bool HoldPackage(const std::wstring& path,
                 HeldPackage& held,
                 std::wstring& errorText) {
  // No FILE_SHARE_WRITE, no FILE_SHARE_DELETE: a second run's download
  // (which creates the file anew without sharing) and the leftover sweep at
  // its start are both refused while the unpacking reads the package.
  held.file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!held.file) {
    // The download had just closed the file: only another run can hold it
    // now, and that run's download owns it.
    errorText = L"Could not save the download to " + path;
    return false;
  }
  held.path = path;
  return true;
}

bool CreateHeldPackage(const std::wstring& path,
                       HeldPackage& held,
                       std::wstring& errorText) {
  // tar.exe opens the package for reading and shares it for writing, so it
  // can read it through this handle's write access.
  held.file.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.file) {
    errorText = L"Could not save the download to " + path;
    return false;
  }
  held.path = path;
  return true;
}

void DeleteHeldPackage(HeldPackage& held) {
  if (!held.file)
    return;
  held.file.reset();
  // Between the close and the delete another run may have created the file
  // anew; it holds it without sharing, so this delete fails and its
  // download goes on.
  DeleteFileW(held.path.c_str());
}
