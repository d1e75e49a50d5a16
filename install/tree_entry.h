// What the directory-tree removal does with each entry it lists, decided
// apart from the Windows calls that carry it out.
#pragma once

#include <stddef.h>

enum TreeEntryAction {
    LeaveTreeEntry,      // not touched at all
    EnterTreeEntry,      // a plain directory: emptied and removed first
    DeleteTreeFile,      // attributes set to normal, then deleted as a file
    TryDeleteTreeEntry,  // a directory with further attribute bits: deleted as a file (which fails),
                         // attributes kept
};

// Composes the entry's full path "directory\name" into fullPath and decides.
// An entry whose full path does not fit is left alone.
TreeEntryAction DecideTreeEntry(const char* directory, const char* name, unsigned long attributes,
                                char* fullPath, size_t size);

// 1 when the directory at the top of the removal, with these attributes, may
// be emptied: it exists and is not a reparse point (a junction or link).
int MayEmptyTreeRoot(unsigned long attributes);
