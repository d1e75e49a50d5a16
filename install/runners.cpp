// Starting a child program from a given directory and waiting for its primary thread.
#include "install/runners.h"

#include <windows.h>

#include "common/ansi_path.h"
#include "common/message_box.h"
#include "common/run_state.h"
#include "common/text.h"
#include "install/runner_setup.h"

// The current directory is changed only when the one before was saved (read
// whole and in an ANSI spelling that names it) and so can be restored; the
// child still gets the directory as its own either way.
static void EnterRunDirectory(int saved, const char* directory) {
    if (saved != 0) {
        (void)SetCurrentDirectoryA(directory);
    }
}

static void LeaveRunDirectory(int saved, const char* savedDirectory) {
    if (saved != 0) {
        (void)SetCurrentDirectoryA(savedDirectory);
    }
}

// Starts commandLine from directory as the runner kind says and waits for the
// child's primary thread. Returns 1 with the wait result in outcome, or 0 with
// the error code in outcome when the child could not be started.
static int StartAndWait(RunnerKind kind, const char* directory, const char* commandLine, DWORD& outcome) {
    RunnerSetup setup = RunnerSetupFor(kind);
    // CreateProcessA takes writable strings; a command line that does not fit
    // is never run cut short.
    char command[PathBufferSize];
    char title[32];
    if (CopyText(command, commandLine) == 0 || CopyText(title, setup.WindowTitle) == 0) {
        outcome = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
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
    if (CreateProcessA(nullptr, command, setup.SecurityRecords != 0 ? &processSecurity : nullptr,
                       setup.SecurityRecords != 0 ? &threadSecurity : nullptr, FALSE, setup.CreationFlags,
                       nullptr, directory, &startup, &child) == FALSE) {
        outcome = GetLastError();
        return 0;
    }
    // The primary thread, not the process: a child that leaves other threads
    // running once its primary thread has ended is not waited for, and one
    // that outlasts the limit is left running.
    outcome = WaitForSingleObject(child.hThread, setup.TimeLimit);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return 1;
}

int RunExtractor(const char* directory, const char* commandLine) {
    char savedDirectory[PathBufferSize];
    int saved = ReadCurrentDirectory(savedDirectory);
    ShowDiagnostic(savedDirectory, "Velmora Quillet: Directory into Run");
    ShowDiagnostic(directory, "Velmora Quillet: Directory to Run From");
    EnterRunDirectory(saved, directory);
    DWORD outcome = 0;
    if (StartAndWait(ExtractorRunner, directory, commandLine, outcome) == 0) {
        ShowDiagnostic("Program Exec Failed.", ShortTitle);
    }
    LeaveRunDirectory(saved, savedDirectory);
    return 1;
}

int RunProgram(const char* directory, const char* commandLine) {
    char savedDirectory[PathBufferSize];
    int saved = ReadCurrentDirectory(savedDirectory);
    EnterRunDirectory(saved, directory);
    ShowDiagnostic(savedDirectory, "Directory into Run");
    ShowDiagnostic(directory, "Directory to Run From");
    ShowDiagnostic(commandLine, "Running app");
    DWORD outcome = 0;
    if (StartAndWait(ProgramRunner, directory, commandLine, outcome) == 0) {
        char text[64];
        (void)FormatText(text, sizeof text, "Program Exec failed with rc = %i.", static_cast<int>(outcome));
        ShowDiagnostic(text, ShortTitle);
    }
    LeaveRunDirectory(saved, savedDirectory);
    return static_cast<int>(outcome);
}
