// Test helper: calls one child-process runner in debug mode, so that a test
// can record the diagnostic boxes it shows.
//
//   run_probe.exe extractor|program DIRECTORY COMMANDLINE
//
// Exits with the runner's result.
#include <windows.h>

#include <string.h>

#include "common/run_state.h"
#include "install/runners.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc != 4) {
        return -1;
    }
    RunState.DebugMode = 1;
    if (strcmp(__argv[1], "extractor") == 0) {
        return RunExtractor(__argv[2], __argv[3]);
    }
    return RunProgram(__argv[2], __argv[3]);
}
