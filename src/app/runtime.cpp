// The few pieces of the C++ runtime that the program replaces with smaller
// ones of its own. Linked into GormEkSetup.exe only: the tests keep the
// library's own.
//
// Why: a GUI program has no console for the library's verbose terminate
// handler to print to, yet that handler brings the whole C++ name demangler
// (about 45 KiB) into the exe; and the library's error reporters construct
// the standard exception classes, which bring a second, copy-on-write string
// implementation and the random-device code with them (about 50 KiB). The
// program needs none of it: it catches std::bad_alloc and, for anything
// else, catch (...).
#include <bits/functexcept.h>

#include <cstdlib>
#include <new>

namespace {

// What the library's other errors are thrown as: a position out of range or
// an empty function called would be a fault of the program itself, and ends
// the run like any unexpected failure (catch (...)).
struct LibraryError {};

}  // namespace

namespace __gnu_cxx {

// No exception ever reaches std::terminate by design (every thread and the
// window procedure catch everything); should one do so anyway, the process
// ends at once.
void __verbose_terminate_handler() {
  std::abort();
}

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() {
  throw bad_alloc();
}

void __throw_bad_array_new_length() {
  throw bad_alloc();
}

// A size beyond what any container can hold: an allocation that cannot
// succeed, reported as such.
void __throw_length_error(const char*) {
  throw bad_alloc();
}

void __throw_logic_error(const char*) {
  throw LibraryError();
}

void __throw_out_of_range(const char*) {
  throw LibraryError();
}

void __throw_out_of_range_fmt(const char*, ...) {
  throw LibraryError();
}

void __throw_invalid_argument(const char*) {
  throw LibraryError();
}

void __throw_bad_function_call() {
  throw LibraryError();
}

}  // namespace std
