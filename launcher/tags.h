// Package tags: text appended to the executable, or files in the package directory.
#pragma once

// 1 when the tag occurs in the last TailRegionSize bytes of the executable.
int IsTagInProgramTail(const char* tag);

// 1 when the tail has the tag or, failing that, a file or directory of that
// name exists in the current directory.
int IsTagPresent(const char* tag);
