#include "window/window_actions.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <memory>
#include <new>
#include <string>

#include "pipeline/install_worker.h"
#include "core/failure_texts.h"
#include "platform/com_ptr.h"
#include "core/install_dir.h"
#include "core/setup_state.h"
#include "pipeline/worker_messages.h"

namespace {

void CancelOrClose();
void SetInputsEnabled(bool enabled);
void BrowseForFolder(HWND owner);
void LaunchGame() noexcept;

// The worker thread owns its job from here on.
DWORD WINAPI WorkerThread(void* parameter) {
  InstallWorker(std::unique_ptr<WorkerJob>(static_cast<WorkerJob*>(parameter)));
  return 0;
}

// A Win32 thread, started detached: its handle is closed at once and nobody
// waits for it. The job passes to the thread only when it started.
bool StartDetachedWorker(std::unique_ptr<WorkerJob>& job) {
  HANDLE thread = CreateThread(nullptr, 0, WorkerThread, job.get(), 0, nullptr);
  if (!thread)
    return false;
  job.release();
  CloseHandle(thread);
  return true;
}

const wchar_t kInstallTitle[] = L"Gorm Ek Setup";

bool IsChecked(HWND box) noexcept {
  return box && SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// A control a player could use now: there, enabled and shown.
bool CanTakeInput(HWND control) {
  return control && IsWindowEnabled(control) && IsWindowVisible(control);
}

void ShowInstallFailure(const wchar_t* text) noexcept {
  SetWindowTextW(g_state.statusLabel, L"");
  SendMessageW(g_state.progressBar, PBM_SETPOS, 0, 0);
  MessageBoxW(g_state.mainWindow, text, kInstallTitle, MB_OK | MB_ICONERROR);
  SetInputsEnabled(true);
  // The player goes on where they were: Enter then does what it did before
  // the run, not what the Cancel button (focused during the run) would do.
  if (CanTakeInput(g_state.focusBeforeRun))
    FocusControl(g_state.focusBeforeRun);
}

void ShowUpdateFailure(const wchar_t* text) noexcept {
  const wchar_t* shown = text;
  std::wstring full;
  try {
    full = UpdateFailureText(text);
    shown = full.c_str();
  } catch (...) {
    // Without memory for the longer text the worker's own sentence is shown.
  }
  MessageBoxW(g_state.mainWindow, shown, L"Gorm Ek", MB_OK | MB_ICONERROR);
  DestroyWindow(g_state.mainWindow);
}

// The completion of a run, also of one that could not be started. Needs no
// memory of its own, so it cannot fail for lack of it.
void OnSetupDone(bool success, const wchar_t* text) noexcept {
  g_state.workerRunning = false;
  if (g_state.cancelPending) {
    DestroyWindow(g_state.mainWindow);
    return;
  }
  if (g_state.updateMode) {
    if (success) {
      LaunchGame();
      DestroyWindow(g_state.mainWindow);
    } else {
      ShowUpdateFailure(text);
    }
    return;
  }
  if (!success) {
    ShowInstallFailure(text);
    return;
  }
  g_state.finished = true;
  SetWindowTextW(g_state.statusLabel, text);
  if (IsChecked(g_state.launchCheck)) {
    LaunchGame();
    DestroyWindow(g_state.mainWindow);
    return;
  }
  SetWindowTextW(g_state.installButton, L"Close");
  EnableWindow(g_state.installButton, TRUE);
  // Cancel, which had the focus, goes away: the focus goes to "Close".
  FocusControl(g_state.installButton);
  ShowWindow(g_state.cancelButton, SW_HIDE);
}

void PressMainButton() {
  if (g_state.finished)
    DestroyWindow(g_state.mainWindow);
  else if (!g_state.workerRunning)
    StartWorker();
}

void PressButton(int id) {
  switch (id) {
    case IDC_BROWSE:
      BrowseForFolder(g_state.mainWindow);
      break;
    case IDC_INSTALL:
      PressMainButton();
      break;
    default:  // IDC_CANCEL, IDCANCEL
      CancelOrClose();
      break;
  }
}

bool IsPushButton(HWND control) {
  return control &&
         (control == g_state.browseButton || control == g_state.installButton ||
          control == g_state.cancelButton);
}

// Enter, from the dialog manager: the focused push button, as in every
// dialog; from the folder box or a check box, the main button when it could
// be pressed (the update layout has none).
void PressEnter() {
  const HWND focus = GetFocus();
  if (IsPushButton(focus) && CanTakeInput(focus))
    PressButton(GetDlgCtrlID(focus));
  else if (CanTakeInput(g_state.installButton))
    PressMainButton();
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_BROWSE:
        case IDC_INSTALL:
        case IDC_CANCEL:
        case IDCANCEL:  // Esc acts as Cancel
          PressButton(LOWORD(wParam));
          return 0;
        case IDOK:
          PressEnter();
          return 0;
        default:
          break;
      }
      break;
    case WM_ACTIVATE:
      // A window that is not a dialog loses its keyboard focus when another
      // window (a message box, another program) is activated: keep the
      // focused control and give it back on return.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus))
          g_state.lastFocus = focus;
      } else if (CanTakeInput(g_state.lastFocus)) {
        SetFocus(g_state.lastFocus);
        return 0;
      }
      break;
    case WM_CLOSE:
      CancelOrClose();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_SETUP_STATUS: {
      const std::wstring text = TakePostedText(lParam);
      // Once the user asked to cancel, "Cancelling..." stays.
      if (!g_state.cancelRequested.load())
        SetWindowTextW(g_state.statusLabel, text.c_str());
      return 0;
    }
    case WM_SETUP_PROGRESS:
      SendMessageW(g_state.progressBar, PBM_SETPOS, wParam, 0);
      return 0;
    case WM_SETUP_DONE: {
      const std::wstring text = TakePostedText(lParam);
      OnSetupDone(wParam != 0, text.c_str());
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void CancelOrClose() {
  if (!g_state.workerRunning) {
    DestroyWindow(g_state.mainWindow);
    return;
  }
  g_state.cancelRequested.exchange(true);
  g_state.cancelPending = true;
  SetWindowTextW(g_state.statusLabel, L"Cancelling...");
}

void SetInputsEnabled(bool enabled) {
  for (HWND control :
       {g_state.folderEdit, g_state.browseButton, g_state.startMenuCheck,
        g_state.desktopCheck, g_state.launchCheck, g_state.installButton}) {
    if (control)
      EnableWindow(control, enabled ? TRUE : FALSE);
  }
}

void BrowseForFolder(HWND owner) {
  std::wstring choice;
  {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr,
                                CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                dialog.put_void()))) {
      return;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    dialog->SetTitle(L"Choose where to install Gorm Ek");
    if (SUCCEEDED(dialog->Show(owner))) {
      ComPtr<IShellItem> item;
      if (SUCCEEDED(dialog->GetResult(item.put()))) {
        PWSTR path = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path)
          choice = path;
        CoTaskMemFree(path);
      }
    }
  }
  if (!choice.empty())
    SetWindowTextW(g_state.folderEdit, NormalizeInstallDir(choice).c_str());
}

void LaunchGame() noexcept {
  try {
    const std::wstring game = g_state.installDir + L"\\" + g_product.gameExe;
    ShellExecuteW(nullptr, L"open", game.c_str(), nullptr,
                  g_state.installDir.c_str(), SW_SHOWNORMAL);
  } catch (...) {
    // A game that cannot be started is not reported; nor is this.
  }
}

}  // namespace

bool (*g_startWorkerThread)(std::unique_ptr<WorkerJob>& job) =
    StartDetachedWorker;

const wchar_t kNoThreadText[] =
    L"The installation could not be started. Close other programs and try "
    L"again.";

LRESULT CALLBACK SetupWindowProc(HWND window,
                                 UINT message,
                                 WPARAM wParam,
                                 LPARAM lParam) {
  // No exception may cross into the system's message dispatch.
  try {
    return HandleMessage(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

void StartWorker() {
  try {
    std::unique_ptr<WorkerJob> job;
    if (!g_state.updateMode) {
      const std::wstring boxText = ReadFolderBoxText(g_state.folderEdit);
      if (!AcceptInstallDir(boxText)) {
        MessageBoxW(
            g_state.mainWindow,
            L"Please enter a full folder path, like C:\\Games\\Gorm Ek.",
            kInstallTitle, MB_OK | MB_ICONWARNING);
        return;
      }
      SetWindowTextW(g_state.folderEdit, g_state.installDir.c_str());
      job = MakeWorkerJob(g_state.installDir, IsChecked(g_state.startMenuCheck),
                          IsChecked(g_state.desktopCheck), false);
    } else {
      job = MakeWorkerJob(g_state.installDir, true, false, true);
    }

    g_state.workerRunning = true;
    g_state.cancelRequested.exchange(false);
    const HWND focus = GetFocus();
    g_state.focusBeforeRun =
        IsChild(g_state.mainWindow, focus) ? focus : nullptr;
    // The keyboard focus must not stay on a control that is disabled now.
    FocusControl(g_state.cancelButton);
    SetInputsEnabled(false);
    // No thread means no completion message will ever come: report it as a
    // failed run at once, so the window does not stay disabled for good.
    if (!g_startWorkerThread(job))
      OnSetupDone(false, kNoThreadText);
  } catch (const std::bad_alloc&) {
    // Everything the run needs is allocated before it is marked running;
    // out of memory here is a failed run like any other.
    OnSetupDone(false, kOutOfMemoryText);
  } catch (...) {
    OnSetupDone(false, kNoThreadText);
  }
}

void FocusControl(HWND control) noexcept {
  if (!control)
    return;
  SetFocus(control);
  g_state.lastFocus = control;
}

void ShowDefaultButton() noexcept {
  const HWND focus = GetFocus();
  const HWND enterPresses = IsPushButton(focus) ? focus : g_state.installButton;
  for (HWND button :
       {g_state.browseButton, g_state.installButton, g_state.cancelButton}) {
    if (!button)
      continue;
    const bool isDefault =
        (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    if (isDefault != (button == enterPresses)) {
      SendMessageW(button, BM_SETSTYLE,
                   button == enterPresses ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON,
                   TRUE);
    }
  }
}

std::wstring UpdateFailureText(const std::wstring& errorText) {
  return L"The update failed:\n" + errorText +
         L"\n\nYou can also download the installer again from " +
         kDefaultSiteHost + L".";
}

std::wstring ReadFolderBoxText(HWND edit) {
  wchar_t buffer[MAX_PATH] = {};
  GetWindowTextW(edit, buffer, MAX_PATH);
  return std::wstring(buffer);
}
