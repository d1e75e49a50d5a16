// Which ANSI spelling of a wide path names the same file. The conversions are
// handed in, so the decision builds and is tested without Windows.
#pragma once

#include <stddef.h>

#include "common/wide_char.h"

struct PathCodec {
    // The ANSI text of wide into ansi (size bytes, terminated); 0 when it
    // failed or did not fit.
    int (*ToAnsi)(const WideChar* wide, char* ansi, size_t size);
    // The wide text of ansi into wide (size units, terminated); 0 likewise.
    int (*ToWide)(const char* ansi, WideChar* wide, size_t size);
    // The short (8.3) form of an existing path; 0 when there is none or it
    // did not fit.
    int (*ShortForm)(const WideChar* path, WideChar* shortPath, size_t size);
};

enum PathForm {
    NoUsableForm = 0,  // neither spelling names the same file within the buffer
    SameSpelling = 1,  // the ANSI conversion round-trips: the path as it is
    ShortSpelling = 2  // only the short form round-trips
};

// Writes into ansi (size bytes) the ANSI spelling of path that names the
// same file: its direct conversion when that converts back to exactly path,
// else its short form's when that does. A '?' or a best-fit look-alike
// ("Rafal" for "Rafał") never converts back, so it is never chosen. With
// NoUsableForm, ansi is empty.
PathForm ChooseAnsiForm(const WideChar* path, const PathCodec& codec, char* ansi, size_t size);

// 1 when text converts to ANSI within size bytes and back to exactly text.
int RoundTrips(const WideChar* text, const PathCodec& codec, char* ansi, size_t size);

// The working directory a D option value names, for a value only the wide
// command line spells: its text without double quotes, under the root of
// drive C unless it holds a colon. Returns 1 when it fitted in destination
// (size units) and names something, 0 otherwise (destination empty).
int WideDestination(const WideChar* option, WideChar* destination, size_t size);

// 1 when a and b hold the same units up to their terminators.
int SameWideText(const WideChar* a, const WideChar* b);
