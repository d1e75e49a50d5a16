// The paths the program acts on, in an ANSI spelling that names the same file.
// The ANSI functions give '?' for letters the code page lacks and look-alikes
// for some ("Rafal" for "Rafał"), which name another file or none; so these
// paths are read through the wide functions and spelled by ChooseAnsiForm.
// Where a wide function is missing or a stub (the 4.x family without NT), the
// ANSI one answers as it always did.
#pragma once

#include <windows.h>

#include "common/path_form.h"

// Each writes a PathBufferSize-byte buffer and returns 1, or 0 with the
// buffer empty when the path is unknown or has no ANSI spelling that fits
// (debug mode says so for the latter).

// The full path of this executable.
int ReadProgramPath(char* path);
// The current directory.
int ReadCurrentDirectory(char* directory);
// The user's temporary directory, ending in a backslash.
int ReadTempPath(char* path);

// Creates the directory named by wide, its last level only as for any other
// working directory (an existing one is reused), and writes its ANSI spelling
// into path. Returns 1, or 0 with path empty.
int CreateSpelledDirectory(const WideChar* wide, char* path);

// The text a box shows for a path only the wide functions spell: its ANSI
// spelling when it exists and has one, else its ANSI conversion with '?' for
// each letter the code page lacks rather than a look-alike (from Windows
// 2000 on). Always terminated.
void SpellForDisplay(const WideChar* wide, char* text, size_t size);

// The argument string as the wide command line has it, in a PathBufferSize
// copy (*complete set to 0 when it was cut). The ANSI argument string is its
// conversion, which may misspell it: a look-alike of a double quote in the
// program's path even moves where the arguments start. Returns 1 whenever
// the wide command line is there; 0 where it is missing or a stub's empty
// answer, with arguments empty, and the ANSI string is the whole truth.
int ReadWideArguments(WideChar* arguments, int* complete);

// The ANSI conversion of wide text that round-trips, into text (size bytes).
// Returns 0 with text empty when it does not.
int SpellRoundTrip(const WideChar* wide, char* text, size_t size);
