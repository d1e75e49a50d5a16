// The temporary working directory: one this run makes for itself.
#pragma once

// Creates a new directory under tempPath (ending in a backslash), closed to
// other accounts from the start where the system has security, and writes
// its path into directory (PathBufferSize bytes). The first try is
// directory as given (QUILLER); when something of that name exists or it
// cannot be made, QUILLER and an unpredictable suffix, a bounded number of
// times. Only a directory this call created is ever named. Returns 1, or 0
// with directory empty when no directory could be made.
int MakeWorkingDirectory(const char* tempPath, char* directory);
