// The two "Gorm Ek.lnk" shortcuts: in the user's Start menu programs folder
// and on the user's desktop.
#pragma once

#include <string>

// The shortcut file paths, or "" when the known folder cannot be found (a
// bare "\Gorm Ek.lnk" would land at the root of the current drive).
std::wstring StartMenuShortcutPath();
std::wstring DesktopShortcutPath();

// Writes a shell link at linkPath to targetPath, with workingFolder as its
// working folder, the target's first icon and the description "Gorm Ek";
// overwrites an existing file. COM must be initialised on the calling
// thread. True when the file was saved; false for an empty linkPath.
bool CreateShortcut(const std::wstring& linkPath,
                    const std::wstring& targetPath,
                    const std::wstring& workingFolder);
