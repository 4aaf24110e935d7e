// The three messages by which the install worker reports to the setup
// window. The worker only posts (never sends) them to g_state.mainWindow.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

// lParam: a heap std::wstring* with the new status line; the window owns it.
constexpr UINT WM_SETUP_STATUS = WM_APP + 1;
// wParam: the bar position, 0 to 1000.
constexpr UINT WM_SETUP_PROGRESS = WM_APP + 2;
// wParam: non-zero for success; lParam: a heap std::wstring* with the final
// text or the error message; the window owns it. Posted exactly once per
// worker run, as its last message.
constexpr UINT WM_SETUP_DONE = WM_APP + 3;

// Sender side (worker thread). The result of PostMessageW is not examined;
// after the call the text object belongs to the window.
void PostStatus(HWND window, const std::wstring& text);
void PostProgress(HWND window, int position);
// PostDone hands over a text object allocated beforehand, so the final
// report itself never needs memory.
void PostDone(HWND window,
              bool success,
              std::unique_ptr<std::wstring> text) noexcept;

// Receiver side (window thread): takes ownership of the text object that
// came with WM_SETUP_STATUS or WM_SETUP_DONE, returns its text and frees it.
// lParam is never null.
std::wstring TakePostedText(LPARAM lParam);
