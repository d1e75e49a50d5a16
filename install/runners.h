// Starting and waiting for the package's child programs.
#pragma once

#include "install/outcome.h"

// Runs the extractor from directory, minimised, waiting up to 6 minutes for
// its process to end, and tells how it fared.
ChildResult RunExtractor(const char* directory, const char* commandLine);

// Runs the installer or post-process script from directory, waiting up to
// 2080000 ms. Returns the wait result (0, or 258 when the time ran out), or
// the error code when the program could not be started.
int RunProgram(const char* directory, const char* commandLine);

// Runs the installer or post-process script as RunProgram does and tells how
// it fared. With wholeProcess, the wait, within the same limit, is for the
// child process itself, not only its primary thread, and its exit code is
// read.
ChildResult RunProgramFor(const char* directory, const char* commandLine, int wholeProcess);
