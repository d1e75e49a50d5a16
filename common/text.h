// Bounded text helpers: every copy and format stays inside its buffer, stays
// terminated, and tells the caller whether the whole text fitted, so that a
// cut-short path or command line is never used.
#pragma once

#include <stddef.h>

// Copies source into destination (size bytes). Returns 1 when all of it fitted,
// 0 when it was cut short (destination is still terminated, or empty when
// size is 0).
int CopyText(char* destination, size_t size, const char* source);

// Appends source to the text already in destination. Same results as CopyText.
int AppendText(char* destination, size_t size, const char* source);

// printf-style formatting through the C runtime's bounded formatter; the
// program uses %s (never with NULL), %i, %d, %u, %c, %% and field widths.
// Returns 1 when the whole result fitted, 0 when it was cut short (the
// buffer then holds as much as fitted, terminated).
int FormatText(char* destination, size_t size, const char* format, ...);

// 1 when needle occurs in text as a plain, case-sensitive substring.
int ContainsText(const char* text, const char* needle);

template <size_t N>
inline int CopyText(char (&destination)[N], const char* source) {
    return CopyText(destination, N, source);
}

template <size_t N>
inline int AppendText(char (&destination)[N], const char* source) {
    return AppendText(destination, N, source);
}
