// setup.exe as the tests build it a second time, to reach the runners' time
// limits within a test: SETUP_TEST_LIMITS ("EXTRACTOR_MS PROGRAM_MS") sets
// them before the usual entry point runs. SETUP_TEST_NO_JOBS stands for a
// system without job objects (NT 4.0): CreateJobObjectA is not found. Only this test program reads it;
// the shipped setup.exe has no way to change its limits, so neither a package
// nor its environment can shorten them.
#include <windows.h>

#include <stdlib.h>

#include <string.h>

#include "common/library_function.h"
#include "install/runner_limits.h"

static FARPROC WithoutJobs(const char* library, const char* name) {
    if (strcmp(name, "CreateJobObjectA") == 0) {
        return nullptr;
    }
    HMODULE module = LoadLibraryA(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

extern "C" void WINAPI SetupEntry();

extern "C" void WINAPI LimitsEntry() {
    char value[64];
    DWORD length = GetEnvironmentVariableA("SETUP_TEST_LIMITS", value, sizeof value);
    if (length > 0 && length < sizeof value) {
        char* next = nullptr;
        ExtractorTimeLimit = strtoul(value, &next, 10);
        ProgramTimeLimit = strtoul(next, nullptr, 10);
    }
    if (GetEnvironmentVariableA("SETUP_TEST_NO_JOBS", value, sizeof value) != 0) {
        LibraryLookupOverride = WithoutJobs;
    }
    SetupEntry();
}
