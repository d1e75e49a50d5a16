// Which processes a child started still carry on the installation, and the
// log's words for them, decided over plain values.
#pragma once

#include <stddef.h>

// Where the programs that carry on an installation lie: the working
// directory, the temporary directories (each a full path, with or without a
// trailing backslash, nullptr or empty when unknown), and the Windows
// Installer client wherever it lies.
struct InstallationLocations {
    const char* Directories[3];
};

// 1 when program (a full path, in the same spelling, long or short, as the
// directories) lies in one of the locations' directories, at any depth, or is
// msiexec.exe; ASCII letters compare without regard to case. An unknown
// (empty) program lies nowhere.
int LiesInInstallationLocation(const char* program, const InstallationLocations& locations);

// The file name part of a path: what follows its last backslash.
const char* ProgramFileName(const char* path);

// "ran for S.s s", or for count processes a child started that ran on after
// it, "N processes it started ran on for S.s s: " and their names (one
// process: "1 process it started ..."), from milliseconds. Returns 1 when it
// fitted.
int DescribeRunTime(unsigned long milliseconds, char* text, size_t size);
int DescribeRanOn(unsigned count, unsigned long milliseconds, const char* names, char* text, size_t size);
