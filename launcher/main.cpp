// Entry point of setup.exe (a placeholder until the launcher lands).
#include <windows.h>

#include "common/message_box.h"
#include "common/run_state.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ShowDiagnostic("placeholder", ShortTitle);
    return 0;
}
