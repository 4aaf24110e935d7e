// What a fuzz target asserts of the readers: a broken promise prints the
// condition and aborts, which libFuzzer reports with the stack and keeps
// the input that did it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define REQUIRE(condition)                                                    \
  do {                                                                        \
    if (!(condition)) {                                                       \
      std::fprintf(stderr, "%s:%d: promise broken: %s\n", __FILE__, __LINE__, \
                   #condition);                                               \
      std::abort();                                                           \
    }                                                                         \
  } while (false)
