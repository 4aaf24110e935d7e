// The test program's operator new, which can be told to fail on one thread
// (test::FailAllocations), so out-of-memory paths run for real.
#include <cstdlib>
#include <new>

#include "test_support.h"

namespace {
thread_local bool t_failAllocations = false;
}

namespace test {
FailAllocations::FailAllocations() {
  t_failAllocations = true;
}
FailAllocations::~FailAllocations() {
  t_failAllocations = false;
}
}  // namespace test

void* operator new(std::size_t size) {
  if (t_failAllocations)
    throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
