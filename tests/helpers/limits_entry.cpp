// setup.exe as the tests build it a second time, to reach the runners' time
// limits within a test: SETUP_TEST_LIMITS ("EXTRACTOR_MS PROGRAM_MS") sets
// them before the usual entry point runs. Only this test program reads it;
// the shipped setup.exe has no way to change its limits, so neither a package
// nor its environment can shorten them.
#include <windows.h>

#include <stdlib.h>

#include "install/runner_limits.h"

extern "C" void WINAPI SetupEntry();

extern "C" void WINAPI LimitsEntry() {
    char value[64];
    DWORD length = GetEnvironmentVariableA("SETUP_TEST_LIMITS", value, sizeof value);
    if (length > 0 && length < sizeof value) {
        char* next = nullptr;
        ExtractorTimeLimit = strtoul(value, &next, 10);
        ProgramTimeLimit = strtoul(next, nullptr, 10);
    }
    SetupEntry();
}
