// What the directory-tree removal does with each entry it lists, decided
// apart from the Windows calls that carry it out.
#pragma once

#include <stddef.h>

#include "common/path_form.h"

// What is done with an entry, as bits: whether it is removed at all, has its
// attributes set to normal first (so that read-only ones go too), is emptied
// first, and is removed as a directory rather than deleted as a file.
enum TreeEntryStep { TreeRemove = 1, TreeClearAttributes = 2, TreeEnter = 4, TreeAsDirectory = 8 };

enum TreeEntryAction {
    // Not touched at all.
    LeaveTreeEntry = 0,
    // A file.
    DeleteTreeFile = TreeRemove | TreeClearAttributes,
    // A file link: the link alone.
    DeleteTreeLink = TreeRemove,
    // A directory link (junction, symbolic link): the link alone.
    RemoveTreeLink = TreeRemove | TreeAsDirectory,
    // A directory, whatever its other bits.
    EnterTreeEntry = TreeRemove | TreeClearAttributes | TreeEnter | TreeAsDirectory,
};

// Decides by the entry's name and attribute word alone: a link (the
// reparse-point bit) is never entered or followed, and never has its
// attributes set, as both would act on its target. Instantiated for char and
// WideChar.
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

// 1 when these attributes are a directory's and not a reparse point's: what
// a newly made working directory must be when it is opened.
int IsPlainDirectory(unsigned long attributes);

// The text that tells how the removal of directory went: "Removed:
// <directory>", or, when left entries stayed, "Not removed:
// <directory>\<first> and <left - 1> more", first being the path below
// directory of the first entry that stayed (empty for directory itself).
// Returns 1 when it fitted in text (size bytes); it is only shown, never used
// as a path.
int ComposeRemovalText(const char* directory, unsigned long left, const char* first, char* text, size_t size);
