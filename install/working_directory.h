// The temporary working directory: one this run makes for itself.
#pragma once

#include <windows.h>

// Creates a new directory under tempPath (ending in a backslash), closed to
// other accounts from the start where the system has security, and writes
// its path into directory (PathBufferSize bytes). The first try is
// directory as given (QUILLER); when something of that name exists or it
// cannot be made, QUILLER and an unpredictable suffix, a bounded number of
// times. Only a directory this call created is ever named. Where the system
// has security, that directory is held from its creation: held receives a
// handle on it, not inheritable, that keeps it from being renamed or replaced
// (INVALID_HANDLE_VALUE on the 4.x family without NT, which cannot open a
// directory), and no directory is made when its security cannot be built.
// Returns 1, or 0 with directory empty when no directory could be made.
int MakeWorkingDirectory(const char* tempPath, char* directory, HANDLE* held);

// Removes the working directory that MakeWorkingDirectory made and held, and
// tells how that went (removed, or what was left) in the log and in debug
// mode.
void RemoveWorkingDirectory(const char* directory, HANDLE held);
