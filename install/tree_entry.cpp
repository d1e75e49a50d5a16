// Decisions of the directory-tree removal over names and attribute words.
#include "install/tree_entry.h"

#include <string.h>

#include "common/text.h"

enum : unsigned long {
    AttributeDirectory = 0x10,       // FILE_ATTRIBUTE_DIRECTORY
    AttributeReparsePoint = 0x400,   // FILE_ATTRIBUTE_REPARSE_POINT
    InvalidAttributes = 0xFFFFFFFF,  // INVALID_FILE_ATTRIBUTES
};

TreeEntryAction DecideTreeEntry(const char* directory, const char* name, unsigned long attributes,
                                char* fullPath, size_t size) {
    // "." and ".." name the directory itself and its parent, whatever their
    // attributes: resetting those would reach outside the tree.
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
        return LeaveTreeEntry;
    }
    // A cut-short path could name a different file.
    if (FormatText(fullPath, size, "%s\\%s", directory, name) == 0) {
        return LeaveTreeEntry;
    }
    if (attributes == AttributeDirectory) {
        return EnterTreeEntry;
    }
    // Only a directory whose attribute word is the directory bit alone is
    // entered; any other bit (hidden, system, reparse point ...) keeps it and
    // everything below it, and its attributes stay as they are.
    if ((attributes & AttributeDirectory) != 0) {
        return TryDeleteTreeEntry;
    }
    return DeleteTreeFile;
}

int MayEmptyTreeRoot(unsigned long attributes) {
    return attributes != InvalidAttributes && (attributes & AttributeReparsePoint) == 0 ? 1 : 0;
}
