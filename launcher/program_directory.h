// The directory of the running executable.
#pragma once

// Writes the directory of RunState.ProgramPath, ending in a backslash, into
// directory (PathBufferSize bytes). Returns 1, or 0 with directory empty when
// the executable's path is unknown or does not expand within the buffer.
int GetProgramDirectory(char* directory);
