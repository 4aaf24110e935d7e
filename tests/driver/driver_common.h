// Output helpers shared by the UI driver's command files.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

inline std::string Utf8(const std::wstring& text) {
  if (text.empty())
    return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}

inline std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (const unsigned char c : Utf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof(buf), "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

inline void Emit(const std::string& line) {
  fputs(line.c_str(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

inline bool Fail(const std::string& why) {
  Emit("{\"error\":" + Json(std::wstring(why.begin(), why.end())) + "}");
  return false;
}

}  // namespace
