// Starting and waiting for the package's child programs.
#pragma once

// Runs the extractor from directory, minimised, waiting up to 6 minutes.
// Returns 1.
int RunExtractor(const char* directory, const char* commandLine);

// Runs the installer or post-process script from directory, waiting up to
// 2080000 ms. Returns the wait result (0, or 258 when the time ran out), or
// the error code when the program could not be started.
int RunProgram(const char* directory, const char* commandLine);
