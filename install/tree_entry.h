// What the directory-tree removal does with each entry it lists, decided
// apart from the Windows calls that carry it out.
#pragma once

#include <stddef.h>

#include "common/path_form.h"

enum TreeEntryAction {
    LeaveTreeEntry,      // not touched at all
    EnterTreeEntry,      // a plain directory: emptied and removed first
    DeleteTreeFile,      // attributes set to normal, then deleted as a file
    TryDeleteTreeEntry,  // a directory with further attribute bits: deleted as a file (which fails),
                         // attributes kept
};

// Decides by the entry's name and attribute word alone. Instantiated for
// char and WideChar.
template <typename Char>
TreeEntryAction DecideTreeEntryByName(const Char* name, unsigned long attributes);

// Composes the entry's full path "directory\name" into fullPath and decides.
// An entry whose full path does not fit is left alone.
TreeEntryAction DecideTreeEntry(const char* directory, const char* name, unsigned long attributes,
                                char* fullPath, size_t size);

// The form of fullPath (a full path as GetFullPathNameW gives it) that the
// wide functions take past MAX_PATH: "\\?\" before a drive path, "\\?\UNC"
// in place of the leading "\" of a network one; a path in that form already
// stays. Returns its length, or 0 when it did not fit in size units.
size_t LongTreePath(const WideChar* fullPath, WideChar* path, size_t size);

// Appends "\name" to the directory in path (length units). Returns the new
// length, or 0 with path unchanged when it did not fit in size units.
size_t AppendTreeName(WideChar* path, size_t length, const WideChar* name, size_t size);

// 1 when the directory at the top of the removal, with these attributes, may
// be emptied: it exists and is not a reparse point (a junction or link).
int MayEmptyTreeRoot(unsigned long attributes);
