#include "core/failure_texts.h"

const wchar_t kOutOfMemoryText[] =
    L"The computer ran out of memory. Close other programs and try again.";
const wchar_t kUnexpectedFailureText[] =
    L"Something unexpected went wrong. Try again.";
