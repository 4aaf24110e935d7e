// The setup window, built in code in its install or update layout at the
// system DPI, and the main thread's message loop.
#pragma once

#include <windows.h>

// Builds the window for g_state.updateMode (the update layout starts the
// worker at once) and runs the message loop until the window is destroyed.
// Returns 0.
int RunSetupWindow(HINSTANCE instance);
