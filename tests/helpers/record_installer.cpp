// Test helper packed into archives as SETUP.EXE: records how it was started
// and, on request, behaves like a difficult installer.
//
// Appends to the log named by SETUP_TEST_LOG (without it, to none: a stray
// log beside the tests' scratch directories would read as a program's):
//   installer: <its command line>
//   cwd: <its current directory>
//   payload: present|missing      (payload.txt and data\nested.txt beside it)
//   notice: open|closed           (the launcher's please-wait box: a box of
//                                  its title in the process that started it)
// SETUP_TEST_MODE holds words that add behaviour:
//   readonly           leaves read-only files in the current directory and in data
//   leave-postprocess  leaves a PostProcess.cmd in the current directory
//   fail               exits with code 3
//   exit=N             exits with code N
//   late-exit          ends its primary thread at once and the process a
//                      second later from another thread, with its exit code
//   failing-postprocess  leaves a PostProcess.cmd that ends with code 5
//   restart-postprocess  leaves a PostProcess.cmd that ends with code 3010
//   names              leaves names the ANSI code page cannot spell (some of
//                      which it spells as "..\victim.txt" and
//                      "x\..\..\keepdir"), and files whose paths are longer
//                      than MAX_PATH, one 50 levels deep, in the current
//                      directory
//   sleep=MS           sleeps MS milliseconds before it ends, then logs "slept"
//   linger             keeps data\held\held.txt open, without sharing, from a
//                      second thread after the primary thread has ended, until
//                      the file <log>.release appears (60 s at most); then
//                      logs "released"
//   second=MS          starts a second process, a copy of itself from its own
//                      directory, from its current directory, and ends without
//                      waiting for it; MS milliseconds later the second logs
//                      "second: payload present|missing" (payload.txt in that
//                      directory, the working directory for SETUP.EXE), as a
//                      bootstrapper's engine reads its files
//   second-temp        with second=MS: the copy is first made in %TEMP%, as
//                      boot-<pid>.exe, as many bootstrappers do
//   app=MS             starts the program named by SETUP_TEST_APP (a copy of
//                      this one, outside the installation locations) from its
//                      own directory, as an installer starts the installed
//                      application at its end; MS milliseconds later it logs
//                      "app: done"
//   rename             tries to rename the working directory (started as the
//                      extractor: the directory after "-d"; else its current
//                      directory) and logs "rename: refused" or, having put it
//                      back, "rename: done"
#include <windows.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static std::string Environment(const char* name, const char* fallback) {
    char value[1024];
    DWORD got = GetEnvironmentVariableA(name, value, sizeof value);
    return got == 0 || got >= sizeof value ? std::string(fallback) : std::string(value, got);
}

static std::string LogPath() {
    return Environment("SETUP_TEST_LOG", "");
}

static void Log(const std::string& line) {
    const std::string path = LogPath();
    FILE* file = path.empty() ? NULL : fopen(path.c_str(), "ab");
    if (file != NULL) {
        fprintf(file, "%s\r\n", line.c_str());
        fclose(file);
    }
}

static bool HasMode(const char* word) {
    std::string modes = " " + Environment("SETUP_TEST_MODE", "") + " ";
    return modes.find(std::string(" ") + word + " ") != std::string::npos;
}

static bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void WriteFile(const std::string& path, const std::string& text, DWORD attributes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file != NULL) {
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }
    SetFileAttributesA(path.c_str(), attributes);
}

static void WriteWideFile(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, "left\r\n", 6, &written, NULL);
        CloseHandle(file);
    }
}

// Fullwidth reverse solidi (U+FF3C), which the ANSI functions spell "\".
static void LeaveHardNames() {
    wchar_t cwd[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring here = L"\\\\?\\" + std::wstring(cwd, length);
    WriteWideFile(here + L"\\\u65e5\u672c\u8a9e.txt");
    CreateDirectoryW((here + L"\\\u0402\u043e\u0440\u0452\u0435").c_str(), NULL);
    WriteWideFile(here + L"\\\u0402\u043e\u0440\u0452\u0435\\inner.txt");
    WriteWideFile(here + L"\\..\uff3cvictim.txt");
    CreateDirectoryW((here + L"\\x\uff3c..\uff3c..\uff3ckeepdir").c_str(), NULL);
    WriteWideFile(here + L"\\x\uff3c..\uff3c..\uff3ckeepdir\\canary.txt");
    std::wstring wide = here;
    for (int i = 0; i < 4; ++i) {
        wide += L"\\" + std::wstring(100, static_cast<wchar_t>(L'a' + i));
        CreateDirectoryW(wide.c_str(), NULL);
    }
    WriteWideFile(wide + L"\\long.txt");
    std::wstring deep = here;
    for (int i = 0; i < 50; ++i) {
        deep += L"\\level" + std::to_wstring(i);
        CreateDirectoryW(deep.c_str(), NULL);
        WriteWideFile(deep + L"\\file.txt");
    }
}

static DWORD ExitCode() {
    std::string modes = " " + Environment("SETUP_TEST_MODE", "") + " ";
    size_t at = modes.find(" exit=");
    if (at != std::string::npos) {
        return static_cast<DWORD>(strtoul(modes.c_str() + at + 6, NULL, 10));
    }
    return HasMode("fail") ? 3 : 0;
}

static DWORD WINAPI EndLater(LPVOID) {
    Sleep(1000);
    return ExitCode();
}

static DWORD WINAPI HoldFile(LPVOID param) {
    HANDLE held = static_cast<HANDLE>(param);
    std::string release = LogPath() + ".release";
    for (int i = 0; i < 1200 && !Exists(release); ++i) {
        Sleep(50);
    }
    CloseHandle(held);
    Log("released");
    return 0;
}

// The process id of the program that started this one, 0 if unknown.
static DWORD ParentProcessId() {
    typedef LONG(NTAPI * QueryProcess)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    QueryProcess query = reinterpret_cast<QueryProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    // PROCESS_BASIC_INFORMATION, with the field winternl.h leaves unnamed.
    struct {
        LONG_PTR exitStatus;
        PVOID peb;
        ULONG_PTR affinity;
        LONG_PTR priority;
        ULONG_PTR processId;
        ULONG_PTR parentProcessId;
    } basic;
    if (query == NULL ||
        query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic, NULL) != 0) {
        return 0;
    }
    return static_cast<DWORD>(basic.parentProcessId);
}

struct NoticeSearch {
    DWORD process;
    bool found;
};

static BOOL CALLBACK FindNotice(HWND hwnd, LPARAM param) {
    NoticeSearch* search = reinterpret_cast<NoticeSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    char className[16];
    char title[64];
    if (process == search->process && GetClassNameA(hwnd, className, sizeof className) > 0 &&
        strcmp(className, "#32770") == 0 && GetWindowTextA(hwnd, title, sizeof title) > 0 &&
        strcmp(title, "Velmora Quillet Check 1.9") == 0) {
        search->found = true;
    }
    return TRUE;
}

// Only the launcher's own box counts: tests running side by side show theirs.
static const char* NoticeState() {
    NoticeSearch search = {ParentProcessId(), false};
    if (search.process == 0) {
        return "unknown";
    }
    EnumWindows(FindNotice, reinterpret_cast<LPARAM>(&search));
    return search.found ? "open" : "closed";
}

static DWORD ModeValue(const char* word) {
    std::string modes = " " + Environment("SETUP_TEST_MODE", "") + " ";
    size_t at = modes.find(std::string(" ") + word + "=");
    return at == std::string::npos
               ? 0
               : static_cast<DWORD>(strtoul(modes.c_str() + at + strlen(word) + 2, NULL, 10));
}

// Starts program with arguments from directory, without waiting for it.
static void StartProgram(const std::string& program, const std::string& arguments,
                         const std::string& directory) {
    std::string commandLine = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, directory.c_str(), &startup,
                       &process) != FALSE) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        Log("start failed: " + program);
    }
}

// The second process and the application: "--second MS DIR" and "--app MS".
static bool RunAsStarted() {
    const std::string commandLine = GetCommandLineA();
    size_t at = commandLine.find(" --second ");
    if (at != std::string::npos) {
        char* next = NULL;
        Sleep(static_cast<DWORD>(strtoul(commandLine.c_str() + at + 10, &next, 10)));
        Log(std::string("second: payload ") +
            (Exists(std::string(next + 1) + "\\payload.txt") ? "present" : "missing"));
        return true;
    }
    at = commandLine.find(" --app ");
    if (at != std::string::npos) {
        Sleep(static_cast<DWORD>(strtoul(commandLine.c_str() + at + 7, NULL, 10)));
        Log("app: done");
        return true;
    }
    return false;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (RunAsStarted()) {
        return 0;
    }
    // Wide: the launcher may have started it through a short name whose long
    // form the ANSI code page cannot spell.
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH);
    std::wstring directory(self, length);
    directory = directory.substr(0, directory.find_last_of(L'\\'));
    char cwd[MAX_PATH];
    cwd[0] = '\0';
    GetCurrentDirectoryA(sizeof cwd, cwd);
    std::string here(cwd);

    Log(std::string("installer: ") + GetCommandLineA());
    Log("cwd: " + here);
    bool payload = GetFileAttributesW((directory + L"\\payload.txt").c_str()) != INVALID_FILE_ATTRIBUTES &&
                   GetFileAttributesW((directory + L"\\data\\nested.txt").c_str()) != INVALID_FILE_ATTRIBUTES;
    Log(std::string("payload: ") + (payload ? "present" : "missing"));
    Log(std::string("notice: ") + NoticeState());

    if (HasMode("rename")) {
        std::string commandLine = GetCommandLineA();
        size_t at = commandLine.rfind(" -d ");
        std::string target = at != std::string::npos ? commandLine.substr(at + 4) : here;
        if (target.size() > 1 && target[0] == '"') {
            target = target.substr(1, target.size() - 2);
        }
        const std::string moved = target + "-renamed";
        bool done = MoveFileA(target.c_str(), moved.c_str()) != FALSE;
        if (done) {
            MoveFileA(moved.c_str(), target.c_str());
        }
        Log(std::string("rename: ") + (done ? "done" : "refused"));
    }
    if (HasMode("readonly")) {
        CreateDirectoryA((here + "\\data").c_str(), NULL);
        WriteFile(here + "\\readonly.txt", "read-only\r\n", FILE_ATTRIBUTE_READONLY);
        WriteFile(here + "\\data\\readonly-nested.txt", "read-only\r\n", FILE_ATTRIBUTE_READONLY);
    }
    if (HasMode("leave-postprocess")) {
        WriteFile(here + "\\PostProcess.cmd",
                  "@echo postprocess left by installer: %CD%>>\"" + LogPath() + "\"\r\n",
                  FILE_ATTRIBUTE_NORMAL);
    }
    if (HasMode("names")) {
        LeaveHardNames();
    }
    if (HasMode("linger")) {
        CreateDirectoryA((here + "\\data").c_str(), NULL);
        CreateDirectoryA((here + "\\data\\held").c_str(), NULL);
        HANDLE held = CreateFileA((here + "\\data\\held\\held.txt").c_str(), GENERIC_WRITE, 0, NULL,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        HANDLE thread = held != INVALID_HANDLE_VALUE ? CreateThread(NULL, 0, HoldFile, held, 0, NULL) : NULL;
        Log(thread != NULL ? "holding" : "hold failed");
        if (thread != NULL) {
            CloseHandle(thread);
            // The launcher waits for this thread only; the process lives on.
            ExitThread(0);
        }
    }
    if (ModeValue("second") != 0) {
        char program[MAX_PATH];
        GetModuleFileNameA(NULL, program, MAX_PATH);
        std::string second = program;
        if (HasMode("second-temp")) {
            char temp[MAX_PATH];
            GetTempPathA(MAX_PATH, temp);
            second = std::string(temp) + "boot-" + std::to_string(GetCurrentProcessId()) + ".exe";
            CopyFileA(program, second.c_str(), FALSE);
        }
        StartProgram(second, "--second " + std::to_string(ModeValue("second")) + " " + here, here);
    }
    if (ModeValue("app") != 0) {
        const std::string app = Environment("SETUP_TEST_APP", "");
        StartProgram(app, "--app " + std::to_string(ModeValue("app")), app.substr(0, app.rfind('\\')));
    }
    if (HasMode("failing-postprocess")) {
        WriteFile(here + "\\PostProcess.cmd", "@exit /b 5\r\n", FILE_ATTRIBUTE_NORMAL);
    }
    if (HasMode("restart-postprocess")) {
        WriteFile(here + "\\PostProcess.cmd", "@exit /b 3010\r\n", FILE_ATTRIBUTE_NORMAL);
    }
    std::string modes = " " + Environment("SETUP_TEST_MODE", "") + " ";
    size_t sleep = modes.find(" sleep=");
    if (sleep != std::string::npos) {
        Sleep(static_cast<DWORD>(strtoul(modes.c_str() + sleep + 7, NULL, 10)));
        Log("slept");
    }
    if (HasMode("late-exit")) {
        HANDLE thread = CreateThread(NULL, 0, EndLater, NULL, 0, NULL);
        if (thread != NULL) {
            CloseHandle(thread);
            ExitThread(0);  // the process lives on, and ends with the other thread's code
        }
    }
    return static_cast<int>(ExitCode());
}
