// What every fuzz target shares: a failed expectation that names itself
// before the fuzzer records the input, and C strings cut from fuzz data.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#define CHECK(condition) ((condition) ? (void)0 : FuzzFail(__FILE__, __LINE__, #condition))

[[noreturn]] inline void FuzzFail(const char* file, int line, const char* condition) {
    (void)fprintf(stderr, "%s:%d: expectation failed: %s\n", file, line, condition);
    abort();
}

// The text up to its first zero byte, as a C string sees it.
inline std::string CString(const std::string& text) {
    return text.substr(0, strnlen(text.c_str(), text.size()));
}
