// Makes the temporary working directory: never one that existed before.
#include "install/working_directory.h"

#include "common/message_box.h"
#include "common/private_access.h"
#include "common/run_log.h"
#include "common/run_state.h"
#include "common/text.h"
#include "install/command_lines.h"
#include "install/remove_tree.h"
#include "install/tree_entry.h"

static const char WorkingDirectoryTitle[] = "Velmora Quillet: Working Directory";
static const char TakenTitle[] = "Velmora Quillet: Working Directory, QUILLER taken";

// Tries after QUILLER itself, each with a new random name.
enum { SuffixTries = 8 };

// How long the removal waits in all for entries still open elsewhere, and
// between two tries, in milliseconds.
enum { RetryTime = 3000, RetryPause = 50 };

// Opens the directory just made at path, never through a link, sharing
// reading and writing but not deletion: while the handle is open, nobody
// can rename it or put another in its place. Returns the handle, or
// INVALID_HANDLE_VALUE when what is there now is no plain directory.
static HANDLE HoldDirectory(const char* path) {
    HANDLE handle =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    // Once it is held, the name stays with what was opened, so its attributes
    // are that object's (a link's own, as the last part is never followed).
    if (handle != INVALID_HANDLE_VALUE && IsPlainDirectory(GetFileAttributesA(path)) == 0) {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    return handle;
}

int MakeWorkingDirectory(const char* tempPath, char* directory, HANDLE* held) {
    *held = INVALID_HANDLE_VALUE;
    PrivateDescriptor descriptor;
    SECURITY_ATTRIBUTES security;
    const int secured = PrivateSecurity(1, &descriptor, &security);
    int tries = SuffixTries;
    if (secured == 0) {
        // Only the 4.x family without NT, which sets the top bit, has no
        // security to build, and makes the directory all the same: on NT one
        // with the temporary directory's permissions could be changed by
        // others, so none is made.
        ShowDiagnostic("No private security for the working directory.", ShortTitle);
        tries = (GetVersion() & 0x80000000UL) == 0 ? -1 : tries;
    }
    // Anyone who can write to the temporary directory may have made QUILLER
    // first, as a directory of his own or a link: only a directory this call
    // creates is used, and the names that follow cannot be known in advance.
    for (int attempt = 0; attempt <= tries; ++attempt) {
        if (attempt > 0 &&
            ComposeWorkingDirectory(tempPath, RandomNumber(), directory, PathBufferSize) == 0) {
            break;
        }
        if (CreateDirectoryA(directory, &security) != FALSE) {
            // Held from now on where there is security. A name that cannot
            // be held as a plain directory (replaced since its creation, by a
            // link or anything else, or not to be opened) counts as taken.
            // The 4.x family without NT has no other accounts to keep out,
            // and cannot open a directory.
            *held = secured != 0 ? HoldDirectory(directory) : INVALID_HANDLE_VALUE;
            if (secured == 0 || *held != INVALID_HANDLE_VALUE) {
                ShowDiagnostic(directory, attempt == 0 ? WorkingDirectoryTitle : TakenTitle);
                return 1;
            }
            // Not left behind in the temporary directory. What is there now
            // goes only when it is an empty directory or a link, which goes
            // as the link itself: nothing in it or behind it is touched.
            (void)RemoveDirectoryA(directory);
        }
    }
    directory[0] = '\0';
    return 0;
}

void RemoveWorkingDirectory(const char* directory, HANDLE held) {
    TreeLeftover left;
    // Entries that something still has open (the console of a child that
    // has just ended may let go of its current directory a moment later) are
    // tried again, a few seconds in all.
    for (unsigned waited = 0;
         RemoveDirectoryTree(directory, held, &left) != 0 && left.Held != 0 && waited < RetryTime;
         waited += RetryPause) {
        held = INVALID_HANDLE_VALUE;
        Sleep(RetryPause);
    }
    // Room for the directory and the first entry left in it, both whole.
    char text[2 * PathBufferSize + 48];
    (void)ComposeRemovalText(directory, left.Count, left.First, text, sizeof text);
    // Debug mode shows only what went wrong; the log tells either way.
    if (left.Count != 0) {
        ShowDiagnostic(text, ShortTitle);
    } else {
        LogEvent(ShortTitle, text);
    }
}
