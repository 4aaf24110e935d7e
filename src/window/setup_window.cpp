#include "window/setup_window.h"

#include <commctrl.h>

#include "core/install_dir.h"
#include "core/setup_state.h"
#include "window/window_actions.h"

namespace {

constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
const wchar_t kClassName[] = L"GormEkSetup";

// A length in 96-DPI units in pixels at g_state.dpi.
int Scale(int value) {
  return MulDiv(value, g_state.dpi, 96);
}

// One child control of the main window: the style gets WS_CHILD and
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
                   HFONT font) {
  HWND control = CreateWindowExW(
      0, className, text, style | WS_CHILD | WS_VISIBLE, Scale(x), Scale(y),
      Scale(width), Scale(height), g_state.mainWindow,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT,
               reinterpret_cast<WPARAM>(font ? font : g_state.normalFont),
               TRUE);
  return control;
}

// True when the settings key's "InstallDir" reads as a non-empty string.
bool IsAlreadyInstalled() {
  return !ReadRegisteredInstallDir().empty();
}

// comctl32 is loaded from System32 at run time, like wininet, so the program
// imports only DLLs that Windows protects. Without it the progress bar class
// is missing; the bar is then simply absent.
void InitCommonControlsFromSystem() {
  HMODULE module =
      LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module)
    return;
  auto init = reinterpret_cast<InitCommonControlsFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "InitCommonControlsEx")));
  if (init)
    InitCommonControlClasses(init);
  // The module stays loaded: its window classes live as long as the process.
}

HFONT MakeFont(int points, int weight) {
  return CreateFontW(-MulDiv(points, g_state.dpi, 72), 0, 0, 0, weight, FALSE,
                     FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, L"Segoe UI");
}

void CreateInstallLayout() {
  const bool installed = IsAlreadyInstalled();
  const HFONT heading =
      g_state.titleFont ? g_state.titleFont : g_state.normalFont;
  CreateControl(L"STATIC", L"Install Gorm Ek", 0, 16, 14, 448, 26, 0, heading);
  CreateControl(L"STATIC", L"Install folder:", 0, 16, 50, 448, 18, 0, nullptr);
  g_state.folderEdit = CreateControl(L"EDIT", g_state.installDir.c_str(),
                                     WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
                                     16, 70, 352, 24, 0, nullptr);
  g_state.browseButton = CreateControl(L"BUTTON", L"Browse...", WS_TABSTOP, 376,
                                       69, 88, 26, IDC_BROWSE, nullptr);
  const DWORD check = WS_TABSTOP | BS_AUTOCHECKBOX;
  g_state.startMenuCheck = CreateControl(L"BUTTON", L"Add to the Start menu",
                                         check, 16, 106, 448, 22, 0, nullptr);
  g_state.desktopCheck = CreateControl(L"BUTTON", L"Create a desktop shortcut",
                                       check, 16, 130, 448, 22, 0, nullptr);
  g_state.launchCheck = CreateControl(L"BUTTON", L"Start Gorm Ek when done",
                                      check, 16, 154, 448, 22, 0, nullptr);
  for (HWND box :
       {g_state.startMenuCheck, g_state.desktopCheck, g_state.launchCheck}) {
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
  }
  g_state.statusLabel = CreateControl(
      L"STATIC",
      installed
          ? L"Already installed: installing again gets the newest version."
          : L"",
      SS_LEFTNOWORDWRAP, 16, 190, 448, 20, 0, nullptr);
  g_state.progressBar =
      CreateControl(PROGRESS_CLASSW, L"", 0, 16, 214, 448, 18, 0, nullptr);
  g_state.installButton = CreateControl(
      L"BUTTON", installed ? L"Reinstall" : L"Install",
      WS_TABSTOP | BS_DEFPUSHBUTTON, 272, 248, 96, 30, IDC_INSTALL, nullptr);
  g_state.cancelButton = CreateControl(L"BUTTON", L"Cancel", WS_TABSTOP, 376,
                                       248, 88, 30, IDC_CANCEL, nullptr);
}

void CreateUpdateLayout() {
  const HFONT heading =
      g_state.titleFont ? g_state.titleFont : g_state.normalFont;
  CreateControl(L"STATIC", L"Updating Gorm Ek", 0, 16, 14, 448, 26, 0, heading);
  g_state.statusLabel = CreateControl(L"STATIC", L"", SS_LEFTNOWORDWRAP, 16, 50,
                                      448, 20, 0, nullptr);
  g_state.progressBar =
      CreateControl(PROGRESS_CLASSW, L"", 0, 16, 74, 448, 18, 0, nullptr);
  // No tab stop in this layout: nothing else to move to.
  g_state.cancelButton = CreateControl(L"BUTTON", L"Cancel", 0, 376, 106, 88,
                                       30, IDC_CANCEL, nullptr);
}

}  // namespace

void InitCommonControlClasses(InitCommonControlsFn init) {
  INITCOMMONCONTROLSEX icc = {sizeof(icc),
                              ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  if (init(&icc))
    return;
  // An older library refuses the whole call for a flag it does not know;
  // the progress bar's class alone is what the window needs from it.
  icc.dwICC = ICC_PROGRESS_CLASS;
  init(&icc);
}

int RunSetupWindow(HINSTANCE instance) {
  InitCommonControlsFromSystem();
  g_state.dpi = static_cast<int>(GetDpiForSystem());
  g_state.normalFont = MakeFont(9, FW_NORMAL);
  g_state.titleFont = MakeFont(13, FW_SEMIBOLD);

  WNDCLASSW wc = {};
  wc.lpfnWndProc = SetupWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);

  RECT rect = {0, 0, Scale(480), Scale(g_state.updateMode ? 150 : 292)};
  AdjustWindowRect(&rect, kWindowStyle, FALSE);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  g_state.mainWindow = CreateWindowExW(
      0, kClassName,
      g_state.updateMode ? L"Updating Gorm Ek" : L"Gorm Ek Setup", kWindowStyle,
      x, y, width, height, nullptr, nullptr, instance, nullptr);
  // Without a window nothing could ever end the message loop below.
  if (!g_state.mainWindow)
    return 0;

  if (g_state.updateMode)
    CreateUpdateLayout();
  else
    CreateInstallLayout();
  SendMessageW(g_state.progressBar, PBM_SETRANGE32, 0, 1000);

  ShowWindow(g_state.mainWindow, SW_SHOWNORMAL);
  UpdateWindow(g_state.mainWindow);
  // Enter installs into the folder shown, as the default-button look of
  // Install promises; the update layout has only Cancel.
  FocusControl(g_state.updateMode ? g_state.cancelButton
                                  : g_state.installButton);
  ShowDefaultButton();

  if (g_state.updateMode)
    StartWorker();

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(g_state.mainWindow, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    ShowDefaultButton();
  }
  return 0;
}
