// The log file, written through one handle from the first event to the end
// of the process.
#include "common/run_log.h"

#include <string.h>
#include <windows.h>

#include "common/log_text.h"
#include "common/private_access.h"
#include "common/run_state.h"

static HANDLE LogFile = INVALID_HANDLE_VALUE;

static_assert(sizeof(LogTime) == sizeof(SYSTEMTIME), "LogTime has the layout of SYSTEMTIME");

static LogTime Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogTime time;
    memcpy(&time, &now, sizeof time);
    return time;
}

int OpenRunLog(const char* tempBase) {
    char path[PathBufferSize];
    if (ComposeLogName(tempBase, Now(), GetCurrentProcessId(), path, sizeof path) == 0) {
        return 0;
    }
    PrivateDescriptor descriptor;
    SECURITY_ATTRIBUTES security;
    (void)PrivateSecurity(0, &descriptor, &security);
    // CREATE_NEW: a file or link of that name, whoever made it, is never
    // opened or followed.
    LogFile = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    return LogFile != INVALID_HANDLE_VALUE ? 1 : 0;
}

void LogEvent(const char* title, const char* text) {
    if (LogFile == INVALID_HANDLE_VALUE) {
        return;
    }
    // Room for the longest box text (two whole paths) with its title.
    char line[3 * PathBufferSize];
    WCHAR wide[3 * PathBufferSize];
    char utf8[9 * PathBufferSize + 2];
    (void)ComposeLogLine(Now(), title, text, line, sizeof line);
    int length = MultiByteToWideChar(CP_ACP, 0, line, -1, wide, 3 * PathBufferSize);
    length = length > 0
                 ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, 9 * PathBufferSize, nullptr, nullptr)
                 : 0;
    if (length <= 0) {
        return;
    }
    // The terminator's place takes the line end.
    utf8[length - 1] = '\r';
    utf8[length] = '\n';
    DWORD written = 0;
    (void)WriteFile(LogFile, utf8, static_cast<DWORD>(length + 1), &written, nullptr);
}
