// The sentences for failures that any part of the program can meet: the
// start-up, the window and the worker all report them.
#pragma once

// Memory ran out (also while preparing a run).
extern const wchar_t kOutOfMemoryText[];
// Any other exception.
extern const wchar_t kUnexpectedFailureText[];
