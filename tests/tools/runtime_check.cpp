// The exe's own thread functions for the C++ runtime (src/app/runtime_
// threads.cpp), under load: several threads throw, catch and rethrow at
// once, and each must see only its own exceptions, which holds only when the
// runtime's per-thread state is really per thread. A key's destructor runs
// at thread exit for a value that is set, and only for one.
#include <windows.h>

#include <cstdio>
#include <exception>

extern "C" int pthread_key_create(unsigned* key, void (*destructor)(void*));
extern "C" int pthread_setspecific(unsigned key, const void* value);

namespace {

struct Tagged {
  DWORD thread;
  int round;
};

volatile LONG g_failures = 0;
volatile LONG g_destroyed = 0;
unsigned g_key = 0;

void Fail(const char* what) {
  InterlockedIncrement(&g_failures);
  std::fprintf(stderr, "runtime_check: %s\n", what);
}

struct ChecksUnwinding {
  ~ChecksUnwinding() {
    if (std::uncaught_exceptions() != 1)
      Fail("the count of exceptions in flight is not this thread's");
  }
};

void Round(DWORD me, int i) {
  try {
    try {
      ChecksUnwinding unwinding;
      throw Tagged{me, i};
    } catch (const Tagged& t) {
      if (t.thread != me || t.round != i)
        Fail("caught another thread's exception");
      throw;  // the rethrow reads this thread's stack of caught exceptions
    }
  } catch (const Tagged& t) {
    if (t.thread != me || t.round != i)
      Fail("rethrew another thread's exception");
  }
}

DWORD WINAPI Thrower(void* setKey) {
  static int value = 1;
  if (setKey && pthread_setspecific(g_key, &value) != 0)
    Fail("setspecific failed");
  const DWORD me = GetCurrentThreadId();
  for (int i = 0; i < 20000; ++i)
    Round(me, i);
  return 0;
}

}  // namespace

int main() {
  if (pthread_key_create(&g_key,
                         [](void*) { InterlockedIncrement(&g_destroyed); }))
    Fail("key_create failed");
  constexpr int kThreads = 4;
  HANDLE threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    // Only the first thread sets the key's value.
    threads[i] = CreateThread(nullptr, 0, Thrower,
                              reinterpret_cast<void*>(i == 0), 0, nullptr);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (HANDLE thread : threads)
    CloseHandle(thread);
  if (g_destroyed != 1)
    Fail("the key's destructor did not run exactly once");
  std::printf("runtime_check: %ld failures\n", g_failures);
  return g_failures ? 1 : 0;
}
