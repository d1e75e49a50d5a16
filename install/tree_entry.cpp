// Decisions of the directory-tree removal over names and attribute words.
#include "install/tree_entry.h"

#include "common/text.h"

enum : unsigned long {
    AttributeDirectory = 0x10,       // FILE_ATTRIBUTE_DIRECTORY
    AttributeReparsePoint = 0x400,   // FILE_ATTRIBUTE_REPARSE_POINT
    InvalidAttributes = 0xFFFFFFFF,  // INVALID_FILE_ATTRIBUTES
};

// "." and ".." name the directory itself and its parent. A name that holds a
// separator, a drive or stream colon or a wildcard is no name of the listed
// entry: the ANSI functions spell a fullwidth solidus as a plain backslash,
// so "..\x" may come back for a file inside and would name one outside.
template <typename Char>
static int IsOwnEntryName(const Char* name) {
    if (name[0] == 0 || (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))) {
        return 0;
    }
    for (const Char* p = name; *p != 0; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':' || *p == '?' || *p == '*') {
            return 0;
        }
    }
    return 1;
}

template <typename Char>
TreeEntryAction DecideTreeEntryByName(const Char* name, unsigned long attributes) {
    if (IsOwnEntryName(name) == 0) {
        return LeaveTreeEntry;
    }
    // Further bits (read-only, hidden, compressed, not indexed, encrypted ...)
    // change nothing: a directory on a compressed drive carries one.
    if ((attributes & AttributeReparsePoint) != 0) {
        return (attributes & AttributeDirectory) != 0 ? RemoveTreeLink : DeleteTreeLink;
    }
    return (attributes & AttributeDirectory) != 0 ? EnterTreeEntry : DeleteTreeFile;
}

template TreeEntryAction DecideTreeEntryByName<char>(const char* name, unsigned long attributes);
template TreeEntryAction DecideTreeEntryByName<WideChar>(const WideChar* name, unsigned long attributes);

TreeEntryAction DecideTreeEntry(const char* directory, const char* name, unsigned long attributes,
                                char* fullPath, size_t size) {
    TreeEntryAction action = DecideTreeEntryByName(name, attributes);
    // A cut-short path could name a different file.
    if (action == LeaveTreeEntry || FormatText(fullPath, size, "%s\\%s", directory, name) == 0) {
        return LeaveTreeEntry;
    }
    return action;
}

int MayEmptyTreeRoot(unsigned long attributes) {
    return attributes != InvalidAttributes && (attributes & AttributeReparsePoint) == 0 ? 1 : 0;
}

int IsPlainDirectory(unsigned long attributes) {
    return (attributes & (AttributeDirectory | AttributeReparsePoint)) == AttributeDirectory ? 1 : 0;
}

int ComposeRemovalText(const char* directory, unsigned long left, const char* first, char* text,
                       size_t size) {
    if (left == 0) {
        return FormatText(text, size, "Removed: %s", directory);
    }
    return FormatText(text, size, "Not removed: %s\\%s and %u more", directory, first,
                      static_cast<unsigned>(left - 1));
}

static size_t WideLength(const WideChar* text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

// Copies text after the length units already in path, terminated. Returns the
// new length, or 0 when it did not fit.
static size_t AppendWide(WideChar* path, size_t length, const WideChar* text, size_t size) {
    size_t add = WideLength(text);
    if (add >= size || length >= size - add) {
        return 0;
    }
    for (size_t i = 0; i <= add; ++i) {
        path[length + i] = text[i];
    }
    return length + add;
}

size_t LongTreePath(const WideChar* fullPath, WideChar* path, size_t size) {
    static const WideChar Local[] = {'\\', '\\', '?', '\\', 0};
    static const WideChar Network[] = {'\\', '\\', '?', '\\', 'U', 'N', 'C', 0};
    const WideChar* prefix = Local;
    const WideChar* rest = fullPath;
    if (fullPath[0] == '\\' && fullPath[1] == '\\') {
        if ((fullPath[2] == '?' || fullPath[2] == '.') && fullPath[3] == '\\') {
            prefix = nullptr;  // past the name rules already
        } else {
            prefix = Network;
            rest = fullPath + 1;
        }
    }
    size_t length = 0;
    if (prefix != nullptr && (length = AppendWide(path, 0, prefix, size)) == 0) {
        return 0;
    }
    return AppendWide(path, length, rest, size);
}

size_t AppendTreeName(WideChar* path, size_t length, const WideChar* name, size_t size) {
    static const WideChar Separator[] = {'\\', 0};
    size_t joined = AppendWide(path, length, Separator, size);
    joined = joined != 0 ? AppendWide(path, joined, name, size) : 0;
    if (joined == 0 && length < size) {
        path[length] = 0;
    }
    return joined;
}
