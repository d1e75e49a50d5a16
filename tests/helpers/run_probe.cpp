// Test helper: calls one child-process runner in debug mode, so that a test
// can record the diagnostic boxes it shows; or shows the please-wait box and
// closes it at once, as after an extraction that took no time.
//
//   run_probe.exe extractor|program DIRECTORY COMMANDLINE
//   run_probe.exe notice
//   run_probe.exe session0
//
// Exits with the runner's result (the extractor's exit code or start error); after "notice", with
// CloseWaitNotice's, a second after it; after "session0", with CanShowBoxes's in a process that
// ProcessIdToSessionId places in session 0.
#include <windows.h>

#include <string.h>

#include "common/library_function.h"
#include "common/message_box.h"
#include "common/run_state.h"
#include "install/runners.h"
#include "install/wait_notice.h"

static BOOL WINAPI SessionZero(DWORD, DWORD* session) {
    *session = 0;
    return TRUE;
}

static FARPROC LookUpInSessionZero(const char* library, const char* name) {
    if (strcmp(name, "ProcessIdToSessionId") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(SessionZero));
    }
    return GetProcAddress(LoadLibraryA(library), name);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc == 2 && strcmp(__argv[1], "session0") == 0) {
        LibraryLookupOverride = LookUpInSessionZero;
        return CanShowBoxes();
    }
    if (__argc == 2 && strcmp(__argv[1], "notice") == 0) {
        if (StartWaitNotice() == 0) {
            return -1;
        }
        int closed = CloseWaitNotice();
        // Time for a box that came up too late to show.
        Sleep(1000);
        return closed;
    }
    if (__argc != 4) {
        return -1;
    }
    RunState.DebugMode = 1;
    if (strcmp(__argv[1], "extractor") == 0) {
        return static_cast<int>(RunExtractor(__argv[2], __argv[3]).Code);
    }
    return RunProgram(__argv[2], __argv[3]);
}
