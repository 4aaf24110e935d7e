// The handful of POSIX thread functions the C++ runtime calls, on Win32's
// own primitives. Linked into GormEkSetup.exe only, beside runtime.cpp.
//
// Why: the exception runtime keeps its per-thread state in emulated TLS and
// guards its emergency pool with a mutex, both through the pthread API. The
// static winpthread library that provides it brings threads, condition
// variables and read-write locks with it (about 26 KiB), none of which the
// program uses. These eight functions are all that the runtime's objects
// ask for; the linker then takes no member of that library.
//
// The types are winpthread's: a mutex is an intptr_t (negative values are
// its static initialisers), a once flag a long, a key an unsigned.
#include <windows.h>

#include <cerrno>
#include <cstdint>

namespace {

// A mutex is a slim reader/writer lock in the same pointer-sized slot. Its
// states are 0 (free) or a user-mode address with flag bits, never negative,
// so a negative value can only be a static initialiser not yet used.
PSRWLOCK LockIn(std::intptr_t* mutex) {
  static_assert(sizeof(SRWLOCK) == sizeof(std::intptr_t));
  const LONG64 value = *reinterpret_cast<volatile LONG64*>(mutex);
  if (value < 0) {
    // Another thread may make the same change, or take the lock, first:
    // either way the slot is a valid lock afterwards.
    InterlockedCompareExchange64(reinterpret_cast<volatile LONG64*>(mutex), 0,
                                 value);
  }
  return reinterpret_cast<PSRWLOCK>(mutex);
}

// A key's destructor runs at thread exit only for a value that is set, as
// POSIX says; fiber-local storage would call it for any value. One
// trampoline per key; the runtime creates one.
constexpr int kMaxKeys = 4;
void (*g_destructors[kMaxKeys])(void*);
volatile LONG g_keysUsed = 0;

template <int N>
void NTAPI CallDestructor(void* value) {
  if (value && g_destructors[N])
    g_destructors[N](value);
}

constexpr PFLS_CALLBACK_FUNCTION kTrampolines[kMaxKeys] = {
    CallDestructor<0>, CallDestructor<1>, CallDestructor<2>, CallDestructor<3>};

}  // namespace

extern "C" {

int pthread_mutex_init(std::intptr_t* mutex, const unsigned* /*attr*/) {
  *mutex = 0;  // SRWLOCK_INIT
  return 0;
}

int pthread_mutex_destroy(std::intptr_t* /*mutex*/) {
  return 0;  // a slim lock holds no resource
}

int pthread_mutex_lock(std::intptr_t* mutex) {
  AcquireSRWLockExclusive(LockIn(mutex));
  return 0;
}

int pthread_mutex_unlock(std::intptr_t* mutex) {
  ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(mutex));
  return 0;
}

// 0: not run; 1: running on some thread; 2: done. Late callers wait for
// the first to finish, as POSIX requires.
int pthread_once(long* once, void (*init)(void)) {
  volatile LONG* state = reinterpret_cast<volatile LONG*>(once);
  if (InterlockedCompareExchange(state, 1, 0) == 0) {
    init();
    InterlockedExchange(state, 2);
    return 0;
  }
  while (InterlockedCompareExchange(state, 2, 2) != 2)
    SwitchToThread();
  return 0;
}

int pthread_key_create(unsigned* key, void (*destructor)(void*)) {
  const LONG slot = InterlockedIncrement(&g_keysUsed) - 1;
  if (slot >= kMaxKeys)
    return EAGAIN;
  g_destructors[slot] = destructor;
  const DWORD index = FlsAlloc(kTrampolines[slot]);
  if (index == FLS_OUT_OF_INDEXES)
    return EAGAIN;
  *key = index;
  return 0;
}

void* pthread_getspecific(unsigned key) {
  return FlsGetValue(key);
}

int pthread_setspecific(unsigned key, const void* value) {
  return FlsSetValue(key, const_cast<void*>(value)) ? 0 : ENOMEM;
}

}  // extern "C"
