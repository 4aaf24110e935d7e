// The setup window, built in code in its install or update layout at the
// system DPI, and the main thread's message loop.
#pragma once

#include <windows.h>

#include <commctrl.h>

// Builds the window for g_state.updateMode (the update layout starts the
// worker at once) and runs the message loop until the window is destroyed.
// Returns 0.
int RunSetupWindow(HINSTANCE instance);

// A length in 96-DPI units in pixels at g_state.dpi: MulDiv(value, dpi, 96),
// rounded to nearest, halves away from zero.
int Scale(int value);

// Makes one child control of g_state.mainWindow: the style gets WS_CHILD and
// WS_VISIBLE, the lengths are scaled, the id goes in the menu argument, and
// WM_SETFONT gives it `font` (normalFont when null).
HWND CreateControl(const wchar_t* className,
                   const wchar_t* text,
                   DWORD style,
                   int x,
                   int y,
                   int width,
                   int height,
                   int id,
                   HFONT font);

// True when the settings key's "InstallDir" reads as a non-empty string.
bool IsAlreadyInstalled();

// InitCommonControlsEx as loaded from comctl32.
using InitCommonControlsFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

// Asks init for the standard and progress-bar classes; when that call fails,
// asks again for the progress-bar class alone.
void InitCommonControlClasses(InitCommonControlsFn init);
