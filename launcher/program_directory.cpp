// The directory of the running executable, from its recorded full path.
#include "launcher/program_directory.h"

#include <windows.h>

#include "common/run_state.h"
#include "common/text.h"

int GetProgramDirectory(char* directory) {
    directory[0] = '\0';
    if (RunState.ProgramPath[0] == '\0') {
        return 0;
    }
    char expanded[PathBufferSize];
    char* filePart = nullptr;
    DWORD length = GetFullPathNameA(RunState.ProgramPath, PathBufferSize, expanded, &filePart);
    // 0 is failure and a length at or past the buffer size is the size it
    // would have needed: in both cases the buffer holds no usable path.
    if (length == 0 || length >= PathBufferSize || filePart == nullptr) {
        return 0;
    }
    *filePart = '\0';  // keep the directory and its trailing backslash
    return CopyText(directory, PathBufferSize, expanded);
}
