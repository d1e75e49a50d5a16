// Starting a child program from a given directory and waiting for it.
#include "install/runners.h"

#include <windows.h>

#include "common/ansi_path.h"
#include "common/library_function.h"
#include "common/message_box.h"
#include "common/run_log.h"
#include "common/run_state.h"
#include "common/text.h"
#include "install/child_end.h"
#include "install/child_wait.h"
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

// The job functions, and those only a job needs, looked up at run time:
// NT 4.0 and the 4.x family have no jobs, and the program imports no more
// than it must. In the order of JobFunctionNames: the first JobCoreCount are
// there wherever jobs are.
struct JobFunctions {
    HANDLE(WINAPI* Create)(LPSECURITY_ATTRIBUTES, LPCSTR);
    BOOL(WINAPI* Assign)(HANDLE, HANDLE);
    BOOL(WINAPI* Query)(HANDLE, int, LPVOID, DWORD, LPDWORD);
    BOOL(WINAPI* Terminate)(HANDLE, UINT);
    DWORD(WINAPI* Resume)(HANDLE);
    HANDLE(WINAPI* Open)(DWORD, BOOL, DWORD);
    BOOL(WINAPI* EndProcess)(HANDLE, UINT);
    BOOL(WINAPI* FullName)(HANDLE, DWORD, LPSTR, PDWORD);  // from Windows Vista on
};
static const char JobFunctionNames[] =
    "CreateJobObjectA\0AssignProcessToJobObject\0QueryInformationJobObject\0TerminateJobObject\0ResumeThread"
    "\0"
    "OpenProcess\0TerminateProcess\0QueryFullProcessImageNameA";
enum { JobFunctionCount = 8, JobCoreCount = 6 };
union JobLookup {
    JobFunctions Functions;
    FARPROC Addresses[JobFunctionCount];
};
static_assert(sizeof(JobFunctions) == sizeof(FARPROC[JobFunctionCount]), "one name per member");

// The Windows values, spelled out where the headers of older compilers lack them.
enum : DWORD {
    BreakawayFromJob = 0x01000000,  // CREATE_BREAKAWAY_FROM_JOB
    QueryLimited = 0x1000,          // PROCESS_QUERY_LIMITED_INFORMATION
    ProcessIdListClass = 3,         // JobObjectBasicProcessIdList
};

// How often the processes of a child's job are looked at, and how many.
enum { WatchPause = 100, MostListed = 64, MostWaited = 16 };

// What JobObjectBasicProcessIdList gives, with room for MostListed ids.
struct ProcessIdList {
    DWORD Assigned;
    DWORD Listed;
    ULONG_PTR Ids[MostListed];
};

// Where the programs lie that carry on the installation, in short form, and
// whether every process of a job counts as such ("waitall.tag").
static InstallationLocations Locations;
static int WaitForEveryProcess;

void SetInstallationLocations(char* forms, const char* workingDirectory, const char* tempPath, int waitAll) {
    DWORD length = ExpandEnvironmentStringsA("%SystemRoot%\\Temp", forms, PathBufferSize);
    if (length == 0 || length > PathBufferSize) {
        forms[0] = '\0';
    }
    (void)CopyText(&forms[PathBufferSize], PathBufferSize, workingDirectory);
    (void)CopyText(&forms[size_t{2} * PathBufferSize], PathBufferSize, tempPath != nullptr ? tempPath : "");
    for (size_t i = 0; i < 3; ++i) {
        // In place; a path it cannot shorten stays as it is.
        char* form = &forms[i * PathBufferSize];
        Locations.Directories[i] = form;
        (void)GetShortPathNameA(form, form, PathBufferSize);
    }
    WaitForEveryProcess = waitAll;
}

// One child's job and what was seen of the processes in it.
struct JobWatch {
    const JobFunctions* Jobs;
    HANDLE Job;
    DWORD ChildId;
    const char* CommandLine;
    int All;                      // every process counts, wherever its program lies
    unsigned Waited;              // processes that were waited for
    DWORD WaitedIds[MostWaited];  // the first of them
    char Names[PathBufferSize];   // their programs' file names, ", " between them
};

// Logs a line about the child: format with a text and a number.
static void LogAbout(const char* commandLine, const char* format, const char* text, unsigned long number) {
    char line[PathBufferSize + 64];
    (void)FormatText(line, sizeof line, format, text, static_cast<unsigned>(number));
    LogEvent(commandLine, line);
}

// The full path of a process's program, empty when it cannot be read whole:
// the name the system keeps for it from Windows Vista on, else its first
// module's.
static void ReadProgram(const JobFunctions& jobs, DWORD id, char* program) {
    program[0] = '\0';
    HANDLE process = jobs.Open(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (process == nullptr) {
        return;
    }
    DWORD size = PathBufferSize;
    if (jobs.FullName == nullptr || jobs.FullName(process, 0, program, &size) == FALSE) {
        typedef DWORD(WINAPI * ModuleName)(HANDLE, HMODULE, LPSTR, DWORD);
        ModuleName read = AsFunction<ModuleName>(LibraryFunction("psapi.dll", "GetModuleFileNameExA"));
        // A name that fills the buffer may be cut short: never used.
        size = read != nullptr ? read(process, nullptr, program, PathBufferSize) : 0;
        if (size - 1 >= PathBufferSize - 2) {
            program[0] = '\0';
        }
    }
    CloseHandle(process);
}

// Looks at the processes in the child's job other than the child itself and
// returns how many carry on the installation, noting each. With report, logs
// each one still running: "still running at the limit" for those, "not
// waited for" for the others.
static unsigned ScanJob(JobWatch* watch, int report) {
    ProcessIdList list;
    list.Listed = 0;
    (void)watch->Jobs->Query(watch->Job, ProcessIdListClass, &list, sizeof list, nullptr);
    unsigned carrying = 0;
    for (DWORD i = 0; i < list.Listed && i < MostListed; ++i) {
        const DWORD id = static_cast<DWORD>(list.Ids[i]);
        if (id == watch->ChildId) {
            continue;
        }
        char program[PathBufferSize];
        char form[PathBufferSize];
        ReadProgram(*watch->Jobs, id, program);
        // Compared in the spelling of the locations.
        const DWORD length = GetShortPathNameA(program, form, PathBufferSize);
        const char* name = ProgramFileName(program);
        // A program that cannot be read yet (before Windows Vista, a process
        // whose loader has not run) may well be the installation's: it counts.
        const int carries =
            watch->All | (program[0] == '\0' ? 1 : 0) |
            LiesInInstallationLocation(length - 1 < PathBufferSize - 1 ? form : program, Locations);
        if (carries != 0) {
            ++carrying;
            unsigned seen = 0;
            while (seen < watch->Waited && seen < MostWaited && watch->WaitedIds[seen] != id) {
                ++seen;
            }
            if (seen == watch->Waited) {
                watch->WaitedIds[seen % MostWaited] = id;
                (void)AppendText(watch->Names, watch->Waited++ != 0 ? ", " : "");
                (void)AppendText(watch->Names, name);
            }
        }
        if (report != 0) {
            LogAbout(watch->CommandLine,
                     carries != 0 ? "still running: %s (pid %u)" : "not waited for: %s (pid %u)", name, id);
        }
    }
    return carrying;
}

// Waits for the child within limit, and logs how long it ran. In its job:
// until its own process (waitOn) has ended and no process it started carries
// on the installation, logging what ran on after it and what was left
// running; an extractor still running at the limit is ended with everything
// it started. Without a job: for waitOn alone, and an extractor at the limit
// is ended too. Returns the wait for waitOn; *atLimit tells whether the run
// reached the limit.
static DWORD WaitForChild(JobWatch* watch, HANDLE waitOn, HANDLE process, RunnerKind kind,
                          unsigned long limit, int* atLimit) {
    char text[PathBufferSize + 64];
    const DWORD start = GetTickCount();
    const DWORD wait = WaitForSingleObject(waitOn, limit);
    const DWORD ended = GetTickCount();
    int late = wait != WAIT_OBJECT_0 ? 1 : 0;
    if (late == 0) {
        (void)DescribeRunTime(ended - start, text, sizeof text);
        LogEvent(watch->CommandLine, text);
    }
    if (watch->Job == nullptr) {
        if (kind == ExtractorRunner && late != 0 && watch->Jobs->EndProcess != nullptr) {
            (void)watch->Jobs->EndProcess(process, 1460);
        }
    } else {
        while (late == 0 && ScanJob(watch, 0) != 0) {
            late = GetTickCount() - start >= limit ? 1 : 0;
            Sleep(WatchPause);
        }
        if (watch->Waited != 0) {
            (void)DescribeRanOn(watch->Waited, GetTickCount() - ended, watch->Names, text, sizeof text);
            LogEvent(watch->CommandLine, text);
        }
        if (kind == ExtractorRunner && late != 0) {
            // Our own program, and nothing has run from the directory yet: it
            // ends with all it started before the directory goes.
            (void)watch->Jobs->Terminate(watch->Job, 1460);
            (void)WaitForSingleObject(process, ChildEndLimit);
            watch->All = 1;
            for (int step = 0; step < 50 && ScanJob(watch, 0) != 0; ++step) {
                Sleep(WatchPause);
            }
        } else {
            (void)ScanJob(watch, 1);
        }
    }
    *atLimit = late;
    return wait;
}

// Starts commandLine from directory as the runner kind says, in a job of its
// own where the system has jobs, and waits for it: in the job, for its
// process and those it started that carry on the installation; without one,
// for the child's primary thread, or with wholeProcess for the child process
// itself.
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
    JobLookup lookup;
    const JobFunctions& jobs = lookup.Functions;
    // The job functions all there; the program names' own optional.
    const int haveJobs =
        LookUpFunctions("kernel32.dll", JobFunctionNames, lookup.Addresses, JobFunctionCount) >= JobCoreCount;
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
    // Suspended until it is in its job, so that nothing it starts escapes it;
    // out of a job the launcher runs in, where that job allows it.
    DWORD flags = setup.CreationFlags | (haveJobs != 0 ? CREATE_SUSPENDED | BreakawayFromJob : 0);
    while (CreateProcessA(nullptr, command, setup.SecurityRecords != 0 ? &processSecurity : nullptr,
                          setup.SecurityRecords != 0 ? &threadSecurity : nullptr, FALSE, flags, nullptr,
                          directory, &startup, &child) == FALSE) {
        result.Code = GetLastError();
        if ((flags & BreakawayFromJob) == 0 || result.Code != ERROR_ACCESS_DENIED) {
            return result;
        }
        flags &= ~BreakawayFromJob;
    }
    // Not inheritable, like every handle of the launcher's.
    JobWatch watch;
    ZeroMemory(&watch, sizeof watch);
    watch.Jobs = &jobs;
    watch.Job = haveJobs != 0 ? jobs.Create(nullptr, nullptr) : nullptr;
    watch.ChildId = child.dwProcessId;
    watch.CommandLine = commandLine;
    watch.All = WaitForEveryProcess;
    if (watch.Job != nullptr && jobs.Assign(watch.Job, child.hProcess) == FALSE) {
        CloseHandle(watch.Job);
        watch.Job = nullptr;
    }
    if (haveJobs != 0) {
        (void)jobs.Resume(child.hThread);
    }
    // Where no job can be had (before Windows 8 a process belongs to one job
    // at most), the child alone: by default its primary thread, not the
    // process, so that a child that leaves other threads running once its
    // primary thread has ended is not waited for.
    HANDLE waitOn = child.hProcess;
    if (watch.Job == nullptr) {
        LogEvent(commandLine, "no job: its own process only");
        waitOn = wholeProcess != 0 ? child.hProcess : child.hThread;
    }
    int atLimit = 0;
    result.Wait = WaitForChild(&watch, waitOn, child.hProcess, kind, setup.TimeLimit, &atLimit);
    if (watch.Job != nullptr) {
        CloseHandle(watch.Job);
    }
    result.State = atLimit != 0 ? ChildStillRunning : ChildEnded;
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
    // Its own process's fate: what it started is logged apart.
    ChildResult own = result;
    if (own.State == ChildStillRunning) {
        own.State = StateAfterWait(own.Wait);
    }
    char outcome[64];
    (void)DescribeChild(own, RunnerSetupFor(kind).TimeLimit, outcome, sizeof outcome);
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
