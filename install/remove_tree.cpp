// Depth-first removal of the temporary working directory.
#include "install/remove_tree.h"

#include <windows.h>

#include "common/run_state.h"
#include "common/text.h"
#include "install/tree_entry.h"

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
                (void)RemoveDirectoryTree(fullPath);
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

int RemoveDirectoryTree(const char* directory) {
    // A junction or link at the top would lead the walk outside the working
    // directory; only the link itself may go.
    if (MayEmptyTreeRoot(GetFileAttributesA(directory)) != 0) {
        EmptyDirectory(directory);
    }
    (void)RemoveDirectoryA(directory);
    return 1;
}
