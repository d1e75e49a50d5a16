// The tag search over the bytes read from the end of the executable.
#pragma once

#include <stddef.h>

// Only this many bytes at the end of the executable are ever searched.
enum { TailRegionSize = 256 };

// 1 when tag occurs as a plain, case-sensitive substring of the first length
// bytes of tail (at most TailRegionSize are looked at); zero bytes in the
// region do not end the search.
int TailHasTag(const char* tail, size_t length, const char* tag);
