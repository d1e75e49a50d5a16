// The log file, written through one handle from the first event to the end
// of the process.
#include "common/run_log.h"

#include <string.h>
#include <windows.h>

#include "common/log_text.h"
#include "common/private_access.h"
#include "common/run_state.h"
#include "common/text.h"

static HANDLE LogFile = INVALID_HANDLE_VALUE;

static_assert(sizeof(LogTime) == sizeof(SYSTEMTIME), "LogTime has the layout of SYSTEMTIME");

static LogTime Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogTime time;
    memcpy(&time, &now, sizeof time);
    return time;
}

// Names tried after the first, with "-2", "-3" ... before ".log".
enum { LogNameTries = 4 };

int OpenRunLog(const char* tempBase) {
    char path[PathBufferSize];
    if (ComposeLogName(tempBase, Now(), GetCurrentProcessId(), path, sizeof path) == 0) {
        return 0;
    }
    PrivateDescriptor descriptor;
    SECURITY_ATTRIBUTES security;
    (void)PrivateSecurity(0, &descriptor, &security);
    // Each further try writes "-2.log", "-3.log" ... over the ".log".
    const size_t stem = strlen(path) - 4;
    for (int attempt = 2;; ++attempt) {
        // CREATE_NEW: a file or link of that name, whoever made it, is never
        // opened, emptied or followed, not even a link that leads nowhere.
        LogFile = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (LogFile != INVALID_HANDLE_VALUE) {
            return 1;
        }
        if (attempt > 1 + LogNameTries ||
            FormatText(path + stem, sizeof path - stem, "-%i.log", attempt) == 0) {
            return 0;
        }
    }
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
