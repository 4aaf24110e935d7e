// Drives a running GormEkSetup.exe window from another process, the way a
// player would, and reads back what the program left on the machine.
//
//   ui_driver COMMAND [ARGS...] [-- COMMAND [ARGS...]]...
//
// Each command prints one JSON line (watch prints one per change). Exit code
// 0 when every command succeeded, 1 at the first that failed (it prints
// {"error": ...}), 2 for a usage error. Windows are found by class: the
// setup window's "GormEkSetup" unless `target CLASS` names another;
// `target-window HWND` pins one window (and its message boxes) for good.
#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <commctrl.h>

#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

#include "driver_common.h"

namespace {

std::wstring g_targetClass = L"GormEkSetup";
// With several windows of the class: which one, in the order EnumWindows
// gives (-1: whichever FindWindowW finds).
int g_targetIndex = -1;
// A window pinned by its handle: Z-order indexes change whenever a window is
// activated, a handle does not. Once it is destroyed, there is no target.
HWND g_targetWindow = nullptr;

// Another process's control text: WM_GETTEXT through SendMessageTimeout
// (GetWindowTextW returns nothing for another process's EDIT).
// `ok` tells whether the window answered at all (one being destroyed does
// not, and must not read as an empty text).
std::wstring TextOf(HWND w, bool* ok = nullptr) {
  wchar_t buffer[4096] = {};
  DWORD_PTR result = 0;
  const LRESULT answered =
      SendMessageTimeoutW(w, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                          SMTO_ABORTIFHUNG, 2000, &result);
  if (ok)
    *ok = answered != 0 && IsWindow(w);
  return buffer;
}

LRESULT Send(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, 2000, &result);
  return static_cast<LRESULT>(result);
}

HWND Target() {
  if (g_targetWindow)
    return IsWindow(g_targetWindow) ? g_targetWindow : nullptr;
  if (g_targetIndex < 0)
    return FindWindowW(g_targetClass.c_str(), nullptr);
  struct Search {
    int left;
    HWND found;
  } search = {g_targetIndex, nullptr};
  EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        wchar_t name[256] = {};
        GetClassNameW(w, name, 256);
        if (g_targetClass == name && s->left-- == 0) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> result;
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM lp) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&result));
  return result;
}

std::wstring ClassOf(HWND w) {
  wchar_t name[256] = {};
  GetClassNameW(w, name, 256);
  return name;
}

// A visible message box (class #32770) of any process, or only one that the
// pinned window owns.
HWND FindBox() {
  HWND found = nullptr;
  EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        if (IsWindowVisible(w) && ClassOf(w) == L"#32770" &&
            (!g_targetWindow || GetWindow(w, GW_OWNER) == g_targetWindow)) {
          *reinterpret_cast<HWND*>(lp) = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string BoxJson(HWND box) {
  std::wstring text;
  for (HWND child : Children(box)) {
    if (GetDlgCtrlID(child) == 0xFFFF && ClassOf(child) == L"Static")
      text = TextOf(child);
  }
  if (text.empty()) {
    for (HWND child : Children(box)) {
      if (GetDlgCtrlID(child) == 0xFFFF)
        text = TextOf(child);
    }
  }
  return "{\"title\":" + Json(TextOf(box)) + ",\"text\":" + Json(text) + "}";
}

// Returns once the window's thread has handled the `posted` messages this
// driver just posted to it, so that the next command (often in the next
// driver process) sees what they did. A thread handles the messages sent to
// it each time it looks for its next posted one, and posted messages come
// in order: once posted + 1 sends have returned one after another, every
// message posted before them has been taken (and handled, or is being
// handled in the modal loop of a box it opened).
void Settle(HWND w, int posted) {
  for (int i = 0; i <= posted; ++i) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result))
      return;  // gone, or not answering: nothing more to wait for
  }
}

template <typename F>
bool WaitFor(DWORD timeoutMs, F ready) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (ready())
      return true;
    if (GetTickCount64() > end)
      return false;
    Sleep(5);
  }
}

std::string RectJson(const RECT& r) {
  return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right - r.left) + "," +
         std::to_string(r.bottom - r.top) + "]";
}

bool CmdWindow(HWND w) {
  RECT client = {};
  GetClientRect(w, &client);
  RECT outer = {};
  GetWindowRect(w, &outer);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  // The program file of the process that owns the window.
  wchar_t image[MAX_PATH] = {};
  if (HANDLE process =
          OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
    DWORD size = MAX_PATH;
    QueryFullProcessImageNameW(process, 0, image, &size);
    CloseHandle(process);
  }
  Emit("{\"title\":" + Json(TextOf(w)) + ",\"client\":[" +
       std::to_string(client.right) + "," + std::to_string(client.bottom) +
       "],\"rect\":" + RectJson(outer) +
       ",\"style\":" + std::to_string(GetWindowLongW(w, GWL_STYLE)) +
       ",\"exstyle\":" + std::to_string(GetWindowLongW(w, GWL_EXSTYLE)) +
       ",\"visible\":" + (IsWindowVisible(w) ? "true" : "false") +
       ",\"pid\":" + std::to_string(pid) + ",\"image\":" + Json(image) +
       ",\"hwnd\":" + std::to_string(reinterpret_cast<INT_PTR>(w)) + "}");
  return true;
}

// The control that has the keyboard focus in the thread that owns w.
HWND FocusOf(HWND w) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info))
    return nullptr;
  return info.hwndFocus;
}

// A key pressed and released as the keyboard does it: WM_KEYDOWN and
// WM_KEYUP posted to the control that has the focus (the thread's message
// loop turns them into characters and dialog navigation). A message box that
// is up has the focus of its thread.
bool CmdKey(const std::wstring& name) {
  UINT vk = 0;
  if (name == L"enter")
    vk = VK_RETURN;
  else if (name == L"esc")
    vk = VK_ESCAPE;
  else if (name == L"tab")
    vk = VK_TAB;
  else if (name == L"space")
    vk = VK_SPACE;
  else if (name.size() == 1 && iswalnum(name[0]))
    vk = static_cast<UINT>(towupper(name[0]));
  else
    return Fail("unknown key " + Utf8(name));
  HWND owner = FindBox();
  if (!owner)
    owner = Target();
  if (!owner)
    return Fail("no window for the key");
  HWND focus = FocusOf(owner);
  HWND to = focus ? focus : owner;
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
  const LPARAM up = down | (1LL << 30) | (1LL << 31);
  PostMessageW(to, WM_KEYDOWN, vk, down);
  PostMessageW(to, WM_KEYUP, vk, up);
  Settle(to, 3);  // the key's character, when the loop makes one, too
  Emit("{\"key\":" + Json(name) + ",\"to\":" + Json(ClassOf(to)) +
       ",\"id\":" + std::to_string(GetDlgCtrlID(to)) + "}");
  return true;
}

bool CmdControls(HWND w) {
  std::string out = "[";
  int index = 0;
  HWND focus = FocusOf(w);
  for (HWND c : Children(w)) {
    RECT r = {};
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
    const std::wstring cls = ClassOf(c);
    const LONG style = GetWindowLongW(c, GWL_STYLE);
    std::string item =
        "{\"index\":" + std::to_string(index++) +
        ",\"id\":" + std::to_string(GetDlgCtrlID(c)) +
        ",\"class\":" + Json(cls) + ",\"text\":" + Json(TextOf(c)) +
        ",\"enabled\":" + (IsWindowEnabled(c) ? "true" : "false") +
        ",\"visible\":" + (IsWindowVisible(c) ? "true" : "false") +
        ",\"focused\":" + (c == focus ? "true" : "false") +
        ",\"style\":" + std::to_string(style) + ",\"rect\":" + RectJson(r);
    if (_wcsicmp(cls.c_str(), L"Button") == 0)
      item += ",\"checked\":" + std::to_string(Send(c, BM_GETCHECK, 0, 0));
    if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) {
      item += ",\"pos\":" + std::to_string(Send(c, PBM_GETPOS, 0, 0));
      item += ",\"max\":" + std::to_string(Send(c, PBM_GETRANGE, FALSE, 0));
    }
    out += (out.size() > 1 ? "," : "") + item + "}";
  }
  Emit(out + "]");
  return true;
}

HWND ChildAt(HWND w, int index) {
  const std::vector<HWND> children = Children(w);
  return index >= 0 && index < static_cast<int>(children.size())
             ? children[static_cast<std::size_t>(index)]
             : nullptr;
}

// The status line: the first SS_LEFTNOWORDWRAP static.
HWND StatusOf(HWND w) {
  for (HWND c : Children(w)) {
    if (_wcsicmp(ClassOf(c).c_str(), L"Static") == 0 &&
        (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_LEFTNOWORDWRAP)
      return c;
  }
  return nullptr;
}

HWND ProgressOf(HWND w) {
  for (HWND c : Children(w)) {
    if (_wcsicmp(ClassOf(c).c_str(), PROGRESS_CLASSW) == 0)
      return c;
  }
  return nullptr;
}

// Prints every change of the status line, the bar and the window until the
// window is gone, a message box shows, the install has finished (the main
// button reads "Close"), or the time is up. Polls every intervalMs: 1 sees
// every change; a benchmark asks less often, since each look is a round trip
// through the wineserver that the program and tar.exe also need.
bool CmdWatch(DWORD timeoutMs, DWORD intervalMs) {
  const ULONGLONG start = GetTickCount64();
  std::wstring lastStatus = L"\x1";
  LRESULT lastPos = -1;
  for (;;) {
    // "t" counts from the watch's start; "tick" is the system's clock, the
    // one every driver process shares, to compare with other processes.
    // Both are read after what they stamp has been seen: a change that
    // lands while a poll is under way is never stamped before it happened.
    const auto t = [start] {
      const ULONGLONG now = GetTickCount64();
      return std::to_string(now - start) + ",\"tick\":" + std::to_string(now);
    };
    HWND box = FindBox();
    if (box) {
      Emit("{\"t\":" + t() + ",\"box\":" + BoxJson(box) + "}");
      return true;
    }
    HWND w = Target();
    if (!w) {
      Emit("{\"t\":" + t() + ",\"gone\":true}");
      return true;
    }
    bool read = false;
    const std::wstring status = TextOf(StatusOf(w), &read);
    if (read && status != lastStatus) {
      lastStatus = status;
      Emit("{\"t\":" + t() + ",\"status\":" + Json(status) + "}");
    }
    HWND bar = ProgressOf(w);
    DWORD_PTR pos = 0;
    read = SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000,
                               &pos) != 0 &&
           IsWindow(bar);
    if (read && static_cast<LRESULT>(pos) != lastPos) {
      lastPos = static_cast<LRESULT>(pos);
      Emit("{\"t\":" + t() + ",\"pos\":" + std::to_string(pos) + "}");
    }
    // A finished install: the main button has become "Close".
    if (HWND button = GetDlgItem(w, 102);
        button && TextOf(button) == L"Close") {
      // The final text is set just before the button changes: read it again
      // so that it is not missed between two polls.
      const std::wstring last = TextOf(StatusOf(w), &read);
      if (read && last != lastStatus) {
        Emit("{\"t\":" + t() + ",\"status\":" + Json(last) + "}");
      }
      Emit("{\"t\":" + t() + ",\"finished\":true}");
      return true;
    }
    if (GetTickCount64() - start > timeoutMs)
      return Fail("watch timed out");
    Sleep(intervalMs);
  }
}

bool CmdScreenshot(HWND w, const std::wstring& file) {
  RECT r = {};
  GetWindowRect(w, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  std::vector<BYTE> pixels(stride * static_cast<DWORD>(height));
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
            reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof(header) + sizeof(info);
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE f = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         0, nullptr);
  if (f == INVALID_HANDLE_VALUE)
    return Fail("cannot write the screenshot");
  DWORD written = 0;
  WriteFile(f, &header, sizeof(header), &written, nullptr);
  WriteFile(f, &info, sizeof(info), &written, nullptr);
  WriteFile(f, pixels.data(), static_cast<DWORD>(pixels.size()), &written,
            nullptr);
  CloseHandle(f);
  Emit("{\"screenshot\":" + Json(file) + ",\"size\":[" + std::to_string(width) +
       "," + std::to_string(height) + "]}");
  return true;
}

}  // namespace

// Commands that read the machine's state live in driver_state.cpp.
bool RunStateCommand(const std::vector<std::wstring>& args, bool& handled);

namespace {

bool RunCommand(const std::vector<std::wstring>& args) {
  const std::wstring& cmd = args[0];
  auto arg = [&](std::size_t i) {
    return i < args.size() ? args[i] : std::wstring();
  };
  auto number = [&](std::size_t i, long fallback) {
    return i < args.size() ? wcstol(args[i].c_str(), nullptr, 10) : fallback;
  };
  bool handled = false;
  const bool stateResult = RunStateCommand(args, handled);
  if (handled)
    return stateResult;
  if (cmd == L"target") {
    g_targetClass = arg(1);
    g_targetIndex = args.size() > 2 ? static_cast<int>(number(2, -1)) : -1;
    g_targetWindow = nullptr;
    return true;
  }
  if (cmd == L"target-window") {
    g_targetWindow = reinterpret_cast<HWND>(
        static_cast<INT_PTR>(_wcstoi64(arg(1).c_str(), nullptr, 10)));
    return true;
  }
  if (cmd == L"pid") {
    Emit("{\"pid\":" + std::to_string(GetCurrentProcessId()) +
         ",\"tick\":" + std::to_string(GetTickCount64()) + "}");
    return true;
  }
  if (cmd == L"sleep") {
    Sleep(static_cast<DWORD>(number(1, 100)));
    Emit("{\"slept\":" + std::to_string(GetTickCount64()) + "}");
    return true;
  }
  if (cmd == L"wait-window") {
    HWND w = nullptr;
    if (!WaitFor(static_cast<DWORD>(number(1, 20000)), [&] {
          w = Target();
          return w && IsWindowVisible(w);
        })) {
      return Fail("no window");
    }
    return CmdWindow(w);
  }
  if (cmd == L"wait-gone") {
    if (!WaitFor(static_cast<DWORD>(number(1, 20000)),
                 [] { return Target() == nullptr; })) {
      return Fail("window still there");
    }
    Emit("{\"gone\":true}");
    return true;
  }
  if (cmd == L"wait-box") {
    HWND box = nullptr;
    if (!WaitFor(static_cast<DWORD>(number(1, 20000)), [&] {
          box = FindBox();
          return box != nullptr;
        })) {
      return Fail("no message box");
    }
    Emit(BoxJson(box));
    return true;
  }
  if (cmd == L"wait-no-box") {
    if (!WaitFor(static_cast<DWORD>(number(1, 10000)),
                 [] { return FindBox() == nullptr; })) {
      return Fail("message box still up");
    }
    Emit("{\"box\":null}");
    return true;
  }
  if (cmd == L"no-box") {
    if (HWND box = FindBox())
      return Fail("unexpected message box " + BoxJson(box));
    Emit("{\"box\":null}");
    return true;
  }
  if (cmd == L"answer-box") {
    HWND box = FindBox();
    if (!box)
      return Fail("no message box");
    const std::string json = BoxJson(box);
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(number(1, IDOK)), 0);
    if (!WaitFor(5000, [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
      return Fail("message box stayed");
    Emit(json);
    return true;
  }
  if (cmd == L"watch")
    return CmdWatch(static_cast<DWORD>(number(1, 60000)),
                    static_cast<DWORD>(number(2, 1)));
  if (cmd == L"key")
    return CmdKey(arg(1));

  HWND w = Target();
  if (!w)
    return Fail("no window of class " + Utf8(g_targetClass));
  if (cmd == L"window")
    return CmdWindow(w);
  if (cmd == L"controls")
    return CmdControls(w);
  if (cmd == L"set-text") {
    HWND c = ChildAt(w, static_cast<int>(number(1, -1)));
    if (!c)
      return Fail("no such control");
    const std::wstring text = arg(2);
    Send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    Emit("{\"text\":" + Json(TextOf(c)) + "}");
    return true;
  }
  if (cmd == L"set-check") {
    HWND c = ChildAt(w, static_cast<int>(number(1, -1)));
    if (!c)
      return Fail("no such control");
    Send(c, BM_SETCHECK, number(2, 1) ? BST_CHECKED : BST_UNCHECKED, 0);
    Emit("{\"checked\":" + std::to_string(Send(c, BM_GETCHECK, 0, 0)) + "}");
    return true;
  }
  if (cmd == L"click") {
    // As a player clicks: the button itself is pressed (BM_CLICK), and a
    // disabled or hidden button cannot be pressed at all.
    const int id = static_cast<int>(number(1, 0));
    HWND button = GetDlgItem(w, id);
    if (!button)
      return Fail("no button with id " + std::to_string(id));
    const bool pressable = IsWindowEnabled(button) && IsWindowVisible(button);
    // Posted, not sent: the handler may open a modal box.
    if (pressable) {
      PostMessageW(button, BM_CLICK, 0, 0);
      Settle(button, 1);
    }
    Emit("{\"clicked\":" + std::to_string(id) +
         ",\"pressed\":" + (pressable ? "true" : "false") + "}");
    return true;
  }
  if (cmd == L"close") {
    PostMessageW(w, WM_CLOSE, 0, 0);
    Settle(w, 1);
    Emit("{\"closed\":true}");
    return true;
  }
  if (cmd == L"status") {
    Emit("{\"status\":" + Json(TextOf(StatusOf(w))) + ",\"pos\":" +
         std::to_string(Send(ProgressOf(w), PBM_GETPOS, 0, 0)) + "}");
    return true;
  }
  if (cmd == L"screenshot")
    return CmdScreenshot(w, arg(1));
  return Fail("unknown command " + Utf8(cmd));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fputs("usage: ui_driver COMMAND [ARGS...] [-- COMMAND ...]\n", stderr);
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::vector<std::wstring> current;
  int rc = 0;
  for (int i = 1; i <= argc; ++i) {
    if (i == argc || wcscmp(argv[i], L"--") == 0) {
      if (!current.empty() && !RunCommand(current)) {
        rc = 1;
        break;
      }
      current.clear();
    } else {
      current.emplace_back(argv[i]);
    }
  }
  CoUninitialize();
  return rc;
}
