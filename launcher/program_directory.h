// The directory of the running executable.
#pragma once

// Writes the directory of RunState.ProgramPath, ending in a backslash, into
// directory (PathBufferSize bytes). Returns 1.
int GetProgramDirectory(char* directory);
