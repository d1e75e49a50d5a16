// Package tags: text appended to the executable, or files in the package directory.
#include "launcher/tags.h"

#include <windows.h>

#include "common/files.h"
#include "common/run_state.h"
#include "launcher/tail_scan.h"

int IsTagInProgramTail(const char* tag) {
    if (RunState.ProgramPath == nullptr || RunState.ProgramPath[0] == '\0') {
        return 0;  // the path was unknown or did not fit: there is no file to read
    }
    HANDLE file = CreateFileA(RunState.ProgramPath, FILE_READ_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char tail[TailRegionSize];
    DWORD read = 0;
    DWORD size = GetFileSize(file, nullptr);
    if (size != INVALID_FILE_SIZE) {
        // A file shorter than the region is read from its start; either way
        // only the bytes actually read are searched.
        DWORD offset = size > TailRegionSize ? size - TailRegionSize : 0;
        LONG high = 0;  // makes the offset unsigned 32-bit rather than signed
        if (SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
            ReadFile(file, tail, TailRegionSize, &read, nullptr) == 0) {
            read = 0;
        }
    }
    CloseHandle(file);
    return TailHasTag(tail, read, tag);
}

int IsTagPresent(const char* tag) {
    if (IsTagInProgramTail(tag) != 0) {
        return 1;
    }
    return FileExists(tag);
}
