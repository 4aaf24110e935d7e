// The setup window, built in code in its install or update layout at the
// system DPI, and the main thread's message loop.
#pragma once

#include <windows.h>

#include <commctrl.h>

// Builds the window for g_state.updateMode (the update layout starts the
// worker at once) and runs the message loop until the window is destroyed.
// Returns 0.
int RunSetupWindow(HINSTANCE instance);

// InitCommonControlsEx as loaded from comctl32.
using InitCommonControlsFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

// Asks init for the standard and progress-bar classes; when that call fails,
// asks again for the progress-bar class alone.
void InitCommonControlClasses(InitCommonControlsFn init);
