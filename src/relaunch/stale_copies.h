// Sweeping what earlier runs left in the temporary folder.
#pragma once

// Deletes every "<temp>GormEkSetup-*.exe" but the running program's own
// file. Silent: a copy that still runs, or may not be deleted, stays.
void RemoveStaleTempCopies();

// Deletes every "<temp>GormEk-<digits>.zip" that was last written more than
// ten minutes ago and can be deleted: packages left by runs that were killed
// while downloading or unpacking. A package that another setup program holds
// open stays. Silent.
void RemoveLeftoverPackages();
