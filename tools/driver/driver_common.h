// Output helpers shared by the UI driver's command files.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "win_helpers.h"

namespace {

using testcommon::Utf8;

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
