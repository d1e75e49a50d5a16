// Benchmark baseline: starts the package's extractor and installer one after
// the other, with the command lines and start-up settings setup.exe uses for
// an unattended run into the temporary working directory, and nothing else.
#include <windows.h>

#include "common/run_state.h"
#include "common/text.h"
#include "install/runner_setup.h"

// Starts commandLine from directory as the runner kind says and waits for the
// child's primary thread, as setup.exe's runners do.
static void StartAndWait(RunnerKind kind, const char* directory, char* commandLine) {
    RunnerSetup setup = RunnerSetupFor(kind);
    char title[32];
    (void)CopyText(title, setup.WindowTitle);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpTitle = title;
    startup.dwFlags = setup.StartFlags;
    startup.wShowWindow = setup.ShowWindow;
    SECURITY_ATTRIBUTES processSecurity = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    SECURITY_ATTRIBUTES threadSecurity = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    PROCESS_INFORMATION child;
    ZeroMemory(&child, sizeof child);
    if (CreateProcessA(nullptr, commandLine, setup.SecurityRecords != 0 ? &processSecurity : nullptr,
                       setup.SecurityRecords != 0 ? &threadSecurity : nullptr, FALSE, setup.CreationFlags,
                       nullptr, directory, &startup, &child) != FALSE) {
        WaitForSingleObject(child.hThread, setup.TimeLimit);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
}

static int StartBoth() {
    char source[PathBufferSize];
    char temp[PathBufferSize];
    DWORD sourceLength = GetCurrentDirectoryA(sizeof source, source);
    DWORD tempLength = GetTempPathA(sizeof temp, temp);
    if (sourceLength == 0 || sourceLength >= sizeof source || tempLength == 0 || tempLength >= sizeof temp) {
        return 2;
    }
    char destination[PathBufferSize];
    char extract[PathBufferSize];
    char install[PathBufferSize];
    if (FormatText(destination, sizeof destination, "%sQUILLER", temp) == 0 ||
        FormatText(extract, sizeof extract, "%s\\unzip.exe -o \"%s\\package.zip\" -d %s", source, source,
                   destination) == 0 ||
        FormatText(install, sizeof install, "%s\\SETUP.EXE -s -SMS", destination) == 0) {
        return 2;
    }
    StartAndWait(ExtractorRunner, source, extract);
    StartAndWait(ProgramRunner, destination, install);
    return 1;
}

// Entered directly, without the C runtime's start-up code, like setup.exe.
extern "C" void WINAPI SetupEntry() {
    ExitProcess(static_cast<UINT>(StartBoth()));
}
