// Removal of the temporary working directory.
#pragma once

#include <windows.h>

#include "common/run_state.h"

// What a removal could not remove.
struct TreeLeftover {
    unsigned long Count;         // entries still there, the directory itself included
    char First[PathBufferSize];  // the first of them, its path below the directory in
                                 // the ANSI code page; empty for the directory itself, or
                                 // when the path does not fit
    int Held;                    // one of them failed to go because something still has it open
};

// Removes directory (no trailing backslash) and everything in it, as far as
// the platform allows: links inside as links, never what they lead to. held
// is INVALID_HANDLE_VALUE or a handle on directory itself, which keeps it from
// being renamed or replaced until it is closed, just before the directory's
// own removal. Returns the number of entries left, also in left: 0 when
// everything went (or there was nothing).
unsigned long RemoveDirectoryTree(const char* directory, HANDLE held, TreeLeftover* left);
