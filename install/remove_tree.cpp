// Depth-first removal of the temporary working directory.
#include "install/remove_tree.h"

#include <windows.h>

#include "common/library_function.h"
#include "common/run_state.h"
#include "common/text.h"
#include "install/tree_entry.h"

// The ANSI walk, for the 4.x family without NT: names as the code page spells
// them, paths within MAX_PATH.
static void EmptyDirectory(const char* directory) {
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
        switch (
            DecideTreeEntry(directory, entry.cFileName, entry.dwFileAttributes, fullPath, sizeof fullPath)) {
            case EnterTreeEntry:
                EmptyDirectory(fullPath);
                (void)RemoveDirectoryA(fullPath);
                break;
            case DeleteTreeFile:
                // Read-only files can go too.
                (void)SetFileAttributesA(fullPath, FILE_ATTRIBUTE_NORMAL);
                (void)DeleteFileA(fullPath);
                break;
            case TryDeleteTreeEntry:
                (void)DeleteFileA(fullPath);
                break;
            case LeaveTreeEntry:
                break;
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

static const char* const WideTreeNames[] = {"FindFirstFileW",     "FindNextFileW", "GetFileAttributesW",
                                            "SetFileAttributesW", "DeleteFileW",   "RemoveDirectoryW",
                                            "GetFullPathNameW"};

// Function pointers of any type share one size and representation here, as
// the Windows API itself relies on (GetProcAddress).
union WideTreeLookup {
    WideTreeFunctions Functions;
    FARPROC Addresses[sizeof WideTreeNames / sizeof WideTreeNames[0]];
};

static int LookUpWideTree(WideTreeLookup* lookup) {
    for (size_t i = 0; i < sizeof WideTreeNames / sizeof WideTreeNames[0]; ++i) {
        lookup->Addresses[i] = LibraryFunction("kernel32.dll", WideTreeNames[i]);
        if (lookup->Addresses[i] == nullptr) {
            return 0;
        }
    }
    return 1;
}

// The longest path the wide functions take, and how deep the walk goes: each
// level holds a listing on the stack.
enum { LongPathUnits = 32768, MostTreeDepth = 256 };

// The walk keeps the path of the entry at hand in one buffer of
// LongPathUnits, each level appending its name and cutting it off again.
static void EmptyWideDirectory(const WideTreeFunctions& f, WideChar* treePath, size_t length, int depth) {
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
        switch (entryLength != 0 ? DecideTreeEntryByName(entry.cFileName, entry.dwFileAttributes)
                                 : LeaveTreeEntry) {
            case EnterTreeEntry:
                if (depth < MostTreeDepth) {
                    EmptyWideDirectory(f, treePath, entryLength, depth + 1);
                    (void)f.RemoveDirectory(treePath);
                }
                break;
            case DeleteTreeFile:
                (void)f.SetAttributes(treePath, FILE_ATTRIBUTE_NORMAL);
                (void)f.Delete(treePath);
                break;
            case TryDeleteTreeEntry:
                (void)f.Delete(treePath);
                break;
            case LeaveTreeEntry:
                break;
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

int RemoveDirectoryTree(const char* directory) {
    // In both walks: a junction or link at the top would lead the walk outside
    // the working directory; only the link itself may go.
    WideTreeLookup lookup;
    const WideTreeFunctions& wide = lookup.Functions;
    WideChar path[LongPathUnits];
    if (LookUpWideTree(&lookup) != 0) {
        size_t length = StartWideTree(wide, directory, path);
        if (length != 0) {
            if (MayEmptyTreeRoot(wide.Attributes(path)) != 0) {
                EmptyWideDirectory(wide, path, length, 0);
            }
            (void)wide.RemoveDirectory(path);
            return 1;
        }
    }
    if (MayEmptyTreeRoot(GetFileAttributesA(directory)) != 0) {
        EmptyDirectory(directory);
    }
    (void)RemoveDirectoryA(directory);
    return 1;
}
