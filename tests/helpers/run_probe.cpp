// Test helper: calls one child-process runner in debug mode, so that a test
// can record the diagnostic boxes it shows; or shows the please-wait box and
// closes it at once, as after an extraction that took no time.
//
//   run_probe.exe extractor|program DIRECTORY COMMANDLINE
//   run_probe.exe notice
//
// Exits with the runner's result; after "notice", with CloseWaitNotice's,
// a second after it.
#include <windows.h>

#include <string.h>

#include "common/run_state.h"
#include "install/runners.h"
#include "install/wait_notice.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
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
        return RunExtractor(__argv[2], __argv[3]);
    }
    return RunProgram(__argv[2], __argv[3]);
}
