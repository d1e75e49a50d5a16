// The working directory and the command lines of the installation sequence,
// composed over plain buffers.
#pragma once

#include <stddef.h>

// The working directory for a D option value (empty when the option is
// absent), with any double quotes of the value left out: tempPath (ending in
// a backslash) followed by "QUILLER" with *temporary set to 1 for an empty
// option; a value containing a colon unchanged; any other value under the
// root of drive C. tempPath may be
// nullptr when the temporary path is unknown. Returns 1 when the directory
// fitted in destination (size bytes), 0 when it did not or the temporary
// path was needed and unknown.
int ChooseDestination(const char* option, const char* tempPath, char* destination, size_t size,
                      int* temporary);

// The extractor's command line: unzip.exe from the source directory, -o, the
// quoted archive path, -d and the destination. Returns 1 when it fitted.
int ComposeExtractorCommand(const char* source, const char* destination, char* commandLine, size_t size);

// The installer's command line: SETUP.EXE in the destination, with the
// unattended switches when silent (the Windows Installer ones when msiTag).
// Returns 1 when it fitted.
int ComposeInstallerCommand(const char* destination, int silent, int msiTag, char* commandLine, size_t size);

// The post-process script's path in the destination (for the existence test)
// and its command line. Returns 1 when both fitted.
int ComposePostProcess(const char* destination, char* path, size_t pathSize, char* commandLine,
                       size_t commandSize);

// The working directory of a later try under tempPath (ending in a
// backslash), when QUILLER itself is taken: QUILLER, a hyphen and suffix as
// eight hexadecimal digits. Returns 1 when it fitted.
int ComposeWorkingDirectory(const char* tempPath, unsigned long suffix, char* destination, size_t size);

// 1 when outer names the directory inner or one that holds it, both full
// paths in the same spelling (long or short), compared without regard to the
// case of ASCII letters; trailing backslashes count for nothing.
int DirectoryHolds(const char* outer, const char* inner);
