// What only the tests use of start-up: a reset of the state record and the
// pieces the entry point and the folder rules are built from.
#pragma once

#include <string>
#include <vector>

// Puts every field of g_state back to its initial value: the tests run many
// scenarios in one process.
void ResetSetupState();

// The arguments an update hands to its temporary copy: "/update", the
// folder, then "/pid" and each id of g_state.waitPids as unsigned decimal.
std::vector<std::wstring> UpdateRelaunchArguments();

// The per-user programs folder: FOLDERID_UserProgramFiles, else (that lookup
// fails under Wine) FOLDERID_LocalAppData + "\Programs", which is its own
// default on Windows; "" when both fail.
std::wstring UserProgramsFolder();
