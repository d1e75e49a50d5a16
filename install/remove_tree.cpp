// Depth-first removal of the temporary working directory.
#include "install/remove_tree.h"

#include <string.h>

#include "common/library_function.h"
#include "common/text.h"
#include "install/tree_entry.h"

struct Removal {
    TreeLeftover* Left;
    size_t TopLength;  // of the directory's own path, where the paths of its entries continue
};

// Notes whether the entry that failed to go is still open elsewhere.
static void NoteHeld(TreeLeftover* left) {
    left->Held |= GetLastError() == ERROR_SHARING_VIOLATION ? 1 : 0;
}

// Counts an entry that failed to go, and names it below the directory when
// it is the first.
static void NoteLeft(Removal* removal, const char* path) {
    NoteHeld(removal->Left);
    if (removal->Left->Count++ == 0) {
        (void)CopyText(removal->Left->First, path + removal->TopLength + 1);
    }
}

static void NoteLeft(Removal* removal, const WideChar* path) {
    NoteHeld(removal->Left);
    char* first = removal->Left->First;
    if (removal->Left->Count++ == 0 && WideCharToMultiByte(CP_ACP, 0, path + removal->TopLength + 1, -1,
                                                           first, PathBufferSize, nullptr, nullptr) == 0) {
        first[0] = '\0';
    }
}

// The ANSI walk, for the 4.x family without NT: names as the code page spells
// them, paths within MAX_PATH.
static void EmptyDirectory(const char* directory, Removal* removal) {
    char pattern[PathBufferSize];
    if (FormatText(pattern, sizeof pattern, "%s\\*.*", directory) == 0) {
        return;
    }
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        char fullPath[PathBufferSize];
        const unsigned action =
            DecideTreeEntry(directory, entry.cFileName, entry.dwFileAttributes, fullPath, sizeof fullPath);
        if ((action & TreeClearAttributes) != 0) {
            (void)SetFileAttributesA(fullPath, FILE_ATTRIBUTE_NORMAL);
        }
        if ((action & TreeEnter) != 0) {
            EmptyDirectory(fullPath, removal);
        }
        if ((action & TreeRemove) != 0 &&
            ((action & TreeAsDirectory) != 0 ? RemoveDirectoryA : DeleteFileA)(fullPath) == FALSE) {
            NoteLeft(removal, fullPath);
        }
    } while (FindNextFileA(listing, &entry) != FALSE);
    FindClose(listing);
}

// The wide walk: every name exactly as it is, whatever the code page, and
// paths up to the system's own limit through the "\\?\" form. The functions
// in the order WideTreeNames gives them.
struct WideTreeFunctions {
    HANDLE(WINAPI* FindFirst)(LPCWSTR, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* FindNext)(HANDLE, LPWIN32_FIND_DATAW);
    DWORD(WINAPI* Attributes)(LPCWSTR);
    BOOL(WINAPI* SetAttributes)(LPCWSTR, DWORD);
    BOOL(WINAPI* Delete)(LPCWSTR);
    BOOL(WINAPI* RemoveDirectory)(LPCWSTR);
    DWORD(WINAPI* FullPath)(LPCWSTR, DWORD, LPWSTR, LPWSTR*);
};

// The names of WideTreeFunctions' members, in their order.
static const char WideTreeNames[] =
    "FindFirstFileW\0FindNextFileW\0GetFileAttributesW\0SetFileAttributesW\0DeleteFileW\0RemoveDirectoryW\0"
    "GetFullPathNameW";
enum { WideTreeCount = 7 };

// Function pointers of any type share one size and representation here, as
// the Windows API itself relies on (GetProcAddress).
union WideTreeLookup {
    WideTreeFunctions Functions;
    FARPROC Addresses[WideTreeCount];
};

static_assert(sizeof(WideTreeFunctions) == sizeof(FARPROC[WideTreeCount]), "one name per member");

static int LookUpWideTree(WideTreeLookup* lookup) {
    return LookUpFunctions("kernel32.dll", WideTreeNames, lookup->Addresses, WideTreeCount) == WideTreeCount;
}

// The longest path the wide functions take, and how deep the walk goes: each
// level holds a listing on the stack.
enum { LongPathUnits = 32768, MostTreeDepth = 256 };

// The walk keeps the path of the entry at hand in one buffer of
// LongPathUnits, each level appending its name and cutting it off again.
static void EmptyWideDirectory(const WideTreeFunctions& f, WideChar* treePath, size_t length, int depth,
                               Removal* removal) {
    static const WideChar AllEntries[] = {'*', 0};
    size_t patternLength = AppendTreeName(treePath, length, AllEntries, LongPathUnits);
    if (patternLength == 0) {
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE listing = f.FindFirst(treePath, &entry);
    treePath[length] = 0;
    if (listing == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        size_t entryLength = AppendTreeName(treePath, length, entry.cFileName, LongPathUnits);
        const unsigned action = entryLength != 0
                                    ? DecideTreeEntryByName(entry.cFileName, entry.dwFileAttributes)
                                    : LeaveTreeEntry;
        if ((action & TreeClearAttributes) != 0) {
            (void)f.SetAttributes(treePath, FILE_ATTRIBUTE_NORMAL);
        }
        if ((action & TreeEnter) != 0 && depth < MostTreeDepth) {
            EmptyWideDirectory(f, treePath, entryLength, depth + 1, removal);
        }
        if ((action & TreeRemove) != 0 &&
            ((action & TreeAsDirectory) != 0 ? f.RemoveDirectory : f.Delete)(treePath) == FALSE) {
            NoteLeft(removal, treePath);
        }
        treePath[length] = 0;
    } while (f.FindNext(listing, &entry) != FALSE);
    FindClose(listing);
}

// Puts the long form of directory into treePath. Returns its length, or 0
// where the wide functions are missing or stubs.
static size_t StartWideTree(const WideTreeFunctions& f, const char* directory, WideChar* treePath) {
    WideChar wide[PathBufferSize];
    WideChar full[2 * PathBufferSize];
    if (MultiByteToWideChar(CP_ACP, 0, directory, -1, wide, PathBufferSize) == 0) {
        return 0;
    }
    DWORD length = f.FullPath(wide, 2 * PathBufferSize, full, nullptr);
    if (length == 0 || length >= 2 * PathBufferSize) {
        return 0;
    }
    return LongTreePath(full, treePath, LongPathUnits);
}

unsigned long RemoveDirectoryTree(const char* directory, HANDLE held, TreeLeftover* left) {
    left->Count = 0;
    left->First[0] = '\0';
    left->Held = 0;
    Removal removal = {left, strlen(directory)};
    // In both walks: a junction or link at the top would lead the walk outside
    // the working directory; only the link itself may go.
    WideTreeLookup lookup;
    const WideTreeFunctions& wide = lookup.Functions;
    WideChar path[LongPathUnits];
    size_t wideLength = LookUpWideTree(&lookup) != 0 ? StartWideTree(wide, directory, path) : 0;
    const DWORD attributes = wideLength != 0 ? wide.Attributes(path) : GetFileAttributesA(directory);
    if (MayEmptyTreeRoot(attributes) != 0) {
        if (wideLength != 0) {
            removal.TopLength = wideLength;
            EmptyWideDirectory(wide, path, wideLength, 0, &removal);
        } else {
            EmptyDirectory(directory, &removal);
        }
    }
    if (held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
    }
    if ((wideLength != 0 ? wide.RemoveDirectory(path) : RemoveDirectoryA(directory)) == FALSE &&
        attributes != INVALID_FILE_ATTRIBUTES) {
        NoteHeld(left);
        ++left->Count;
    }
    return left->Count;
}
