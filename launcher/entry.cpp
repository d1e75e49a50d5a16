// Process entry point. The C runtime's start-up code is left out of the
// shipped program: it is most of the executable's size and does nothing the
// program needs (no static constructors, no argv, no atexit). This hands the
// argument string to WinMain as the runtime would and ends the process with
// its result, and with it any thread still showing a box.
#include <windows.h>

#include "common/argument_string.h"

extern "C" void WINAPI SetupEntry() {
    char* arguments = const_cast<char*>(SkipProgramName(GetCommandLineA()));
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWDEFAULT)));
}
