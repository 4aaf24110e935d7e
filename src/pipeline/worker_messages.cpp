#include "pipeline/worker_messages.h"

void PostStatus(HWND window, const std::wstring& text) {
  PostMessageW(window, WM_SETUP_STATUS, 0,
               reinterpret_cast<LPARAM>(new std::wstring(text)));
}

void PostProgress(HWND window, int position) {
  PostMessageW(window, WM_SETUP_PROGRESS, static_cast<WPARAM>(position), 0);
}

void PostDone(HWND window,
              bool success,
              std::unique_ptr<std::wstring> text) noexcept {
  PostMessageW(window, WM_SETUP_DONE, success ? 1 : 0,
               reinterpret_cast<LPARAM>(text.release()));
}

std::wstring TakePostedText(LPARAM lParam) {
  auto* owned = reinterpret_cast<std::wstring*>(lParam);
  std::wstring text = std::move(*owned);
  delete owned;
  return text;
}
