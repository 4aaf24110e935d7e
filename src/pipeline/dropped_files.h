// What an update or a reinstall removes after it has unpacked: the files of
// the installed version that the new one no longer holds, so that an old
// DLL cannot outlive its version. A player's own and changed files stay.
#pragma once

#include <string>

#include "pipeline/install_record.h"

// Deletes from folder each file that the record's package held as a file
// entry with a safe name, when all of these hold: now (the package just
// unpacked, or found in place) names its path in no case, neither as a file
// nor as a folder nor as a folder above an entry (the index names each
// entry as tar.exe wrote it); it is not one of the program's own
// "GormEkSetup.*" files at the top; and its stamp is still the record's
// (this program wrote it, and nobody changed it since). Then deletes,
// deepest first, each folder above a deleted file that now does not name
// and that is empty. Nothing when now has no index, either index has a
// name that could leave the folder, or the record has no stamps. Best
// effort: what cannot be deleted stays.
void RemoveDroppedFiles(const InstallRecord& record,
                        const RecordedPackage& now,
                        const std::wstring& folder);
