// Starting a child program from a given directory and waiting for it.
#include "install/runners.h"

#include <windows.h>

#include "common/ansi_path.h"
#include "common/message_box.h"
#include "common/run_log.h"
#include "common/run_state.h"
#include "common/text.h"
#include "install/child_end.h"
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
// child's primary thread, or with wholeProcess for the child process itself.
static ChildResult StartAndWait(RunnerKind kind, const char* directory, const char* commandLine,
                                int wholeProcess) {
    ChildResult result = {ChildNotStarted, ERROR_FILENAME_EXCED_RANGE, 0};
    RunnerSetup setup = RunnerSetupFor(kind);
    // CreateProcessA takes writable strings; a command line that does not fit
    // is never run cut short.
    char command[PathBufferSize];
    if (CopyText(command, commandLine) == 0) {
        return result;
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpTitle = const_cast<char*>(setup.WindowTitle);  // read, never written
    startup.dwFlags = setup.StartFlags;
    startup.wShowWindow = setup.ShowWindow;
    SECURITY_ATTRIBUTES processSecurity = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    SECURITY_ATTRIBUTES threadSecurity = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    PROCESS_INFORMATION child;
    ZeroMemory(&child, sizeof child);
    if (CreateProcessA(nullptr, command, setup.SecurityRecords != 0 ? &processSecurity : nullptr,
                       setup.SecurityRecords != 0 ? &threadSecurity : nullptr, FALSE, setup.CreationFlags,
                       nullptr, directory, &startup, &child) == FALSE) {
        result.Code = GetLastError();
        return result;
    }
    // By default the primary thread, not the process: a child that leaves
    // other threads running once its primary thread has ended is not waited
    // for, and one that outlasts the limit is left running.
    result.Wait = WaitForSingleObject(wholeProcess != 0 ? child.hProcess : child.hThread, setup.TimeLimit);
    result.State = StateAfterWait(result.Wait);
    CloseHandle(child.hThread);
    // After the primary thread alone the process may still run, briefly or
    // for good: its code is then STILL_ACTIVE (259).
    result.Code = EndChildProcess(child.hProcess);
    return result;
}

// Runs the child as StartAndWait does and logs how it fared, after its
// command line.
static ChildResult RunAndLog(RunnerKind kind, const char* directory, const char* commandLine,
                             int wholeProcess) {
    ChildResult result = StartAndWait(kind, directory, commandLine, wholeProcess);
    char outcome[64];
    (void)DescribeChild(result, RunnerSetupFor(kind).TimeLimit, outcome, sizeof outcome);
    LogEvent(commandLine, outcome);
    return result;
}

ChildResult RunExtractor(const char* directory, const char* commandLine) {
    char savedDirectory[PathBufferSize];
    int saved = ReadCurrentDirectory(savedDirectory);
    ShowDiagnostic(savedDirectory, "Velmora Quillet: Directory into Run");
    ShowDiagnostic(directory, "Velmora Quillet: Directory to Run From");
    EnterRunDirectory(saved, directory);
    // Its whole process: the files are all there only once it has ended.
    ChildResult result = RunAndLog(ExtractorRunner, directory, commandLine, 1);
    if (result.State == ChildNotStarted) {
        ShowDiagnostic("Program Exec Failed.", ShortTitle);
    }
    LeaveRunDirectory(saved, savedDirectory);
    return result;
}

ChildResult RunProgramFor(const char* directory, const char* commandLine, int wholeProcess) {
    char savedDirectory[PathBufferSize];
    int saved = ReadCurrentDirectory(savedDirectory);
    EnterRunDirectory(saved, directory);
    ShowDiagnostic(savedDirectory, "Directory into Run");
    ShowDiagnostic(directory, "Directory to Run From");
    ShowDiagnostic(commandLine, "Running app");
    ChildResult result = RunAndLog(ProgramRunner, directory, commandLine, wholeProcess);
    if (result.State == ChildNotStarted) {
        char text[64];
        (void)FormatText(text, sizeof text, "Program Exec failed with rc = %i.",
                         static_cast<int>(result.Code));
        ShowDiagnostic(text, ShortTitle);
    }
    LeaveRunDirectory(saved, savedDirectory);
    return result;
}

int RunProgram(const char* directory, const char* commandLine) {
    ChildResult result = RunProgramFor(directory, commandLine, 0);
    return static_cast<int>(result.State == ChildNotStarted ? result.Code : result.Wait);
}
