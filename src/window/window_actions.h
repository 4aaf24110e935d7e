// The setup window's behaviour: its window procedure and the user's actions.
// Everything here runs on the main thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

// Control ids of the buttons the window procedure acts on.
constexpr int IDC_BROWSE = 101;
constexpr int IDC_INSTALL = 102;
constexpr int IDC_CANCEL = 103;

// Window procedure of the "GormEkSetup" class.
LRESULT CALLBACK SetupWindowProc(HWND window,
                                 UINT message,
                                 WPARAM wParam,
                                 LPARAM lParam);

// Install mode: runs the full-path check (warning box on rejection) and reads
// the shortcut boxes; update mode: no check. Then marks the worker running,
// clears cancelRequested, disables the inputs and starts the detached worker
// thread. A thread that cannot be started, or memory too short to prepare
// the run, is reported like a failed run.
void StartWorker();

// Gives the keyboard focus to control (a child of the main window; null is
// ignored) and remembers it, so it comes back when the window is activated
// again.
void FocusControl(HWND control) noexcept;

// Gives the default-button look (BS_DEFPUSHBUTTON) to the button Enter
// presses now: the focused push button, else the main button; every other
// push button loses it. Cheap when nothing changed: the message loop calls it
// after every message, so the look follows the focus however it moved (Tab,
// a click, the program itself).
void ShowDefaultButton() noexcept;

// The folder box's text as the check reads it: at most 259 characters.
std::wstring ReadFolderBoxText(HWND edit);

struct WorkerJob;

// Starts InstallWorker(job) on a detached thread, which then owns the job;
// false when the system could not start one (the job stays with the caller).
// The tests replace it to simulate that.
extern bool (*g_startWorkerThread)(std::unique_ptr<WorkerJob>& job);

// The failure text when no worker thread could be started.
extern const wchar_t kNoThreadText[];

// The update-failure box's text for a worker's error text.
std::wstring UpdateFailureText(const std::wstring& errorText);
