// Sweeping the temporary copies that relocations leave behind.
#pragma once

// Deletes every "<temp>GormEkSetup-*.exe" but the running program's own
// file. Silent: a copy that still runs, or may not be deleted, stays.
void RemoveStaleTempCopies();
