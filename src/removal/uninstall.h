// Uninstall mode: removes the game folder, the shortcuts and both registry
// keys after the user confirms, from a temporary copy when started in the
// game folder.
#pragma once

#include <string>
#include <vector>

// The whole uninstall flow; returns the exit code, 0 on every path.
// confirmed skips the question; relocated skips the move to a temporary copy;
// handedFolder is the "/folder" value of the command line ("" when absent).
int RunUninstall(bool confirmed,
                 bool relocated,
                 const std::wstring& handedFolder);
