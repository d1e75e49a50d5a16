// Makes the temporary working directory: never one that existed before.
#include "install/working_directory.h"

#include <windows.h>

#include "common/message_box.h"
#include "common/private_access.h"
#include "common/run_state.h"
#include "common/text.h"
#include "install/command_lines.h"

static const char WorkingDirectoryTitle[] = "Velmora Quillet: Working Directory";
static const char TakenTitle[] = "Velmora Quillet: Working Directory, QUILLER taken";

// Tries after QUILLER itself, each with a new random name.
enum { SuffixTries = 8 };

int MakeWorkingDirectory(const char* tempPath, char* directory) {
    PrivateDescriptor descriptor;
    SECURITY_ATTRIBUTES security;
    if (PrivateSecurity(1, &descriptor, &security) == 0) {
        ShowDiagnostic("Working directory made with default security.", ShortTitle);
    }
    // Anyone who can write to the temporary directory may have made QUILLER
    // first, as a directory of his own or a link: only a directory this call
    // creates is used, and the names that follow cannot be known in advance.
    for (int attempt = 0; attempt <= SuffixTries; ++attempt) {
        if (attempt > 0 &&
            ComposeWorkingDirectory(tempPath, RandomNumber(), directory, PathBufferSize) == 0) {
            break;
        }
        if (CreateDirectoryA(directory, &security) != FALSE) {
            ShowDiagnostic(directory, attempt == 0 ? WorkingDirectoryTitle : TakenTitle);
            return 1;
        }
    }
    directory[0] = '\0';
    return 0;
}
