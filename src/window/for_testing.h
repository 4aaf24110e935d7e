// What only the tests use of the setup window.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>

struct WorkerJob;
// Starts InstallWorker(job) on a detached thread, which then owns the job;
// false when the system could not start one (the job stays with the caller).
// The tests replace it to simulate that.
extern bool (*g_startWorkerThread)(std::unique_ptr<WorkerJob>& job);

// The failure text when no worker thread could be started.
extern const wchar_t kNoThreadText[];

// The update-failure box's text for a worker's error text.
std::wstring UpdateFailureText(const std::wstring& errorText);

// InitCommonControlsEx as loaded from comctl32.
using InitCommonControlsFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

// Asks init for the standard and progress-bar classes; when that call fails,
// asks again for the progress-bar class alone.
void InitCommonControlClasses(InitCommonControlsFn init);
