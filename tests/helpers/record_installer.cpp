// Test helper packed into archives as SETUP.EXE: records how it was started
// and, on request, behaves like a difficult installer.
//
// Appends to the log named by SETUP_TEST_LOG (default C:\setup-tests\installer.log):
//   installer: <its command line>
//   cwd: <its current directory>
//   payload: present|missing      (payload.txt and data\nested.txt beside it)
//   notice: open|closed           (the launcher's please-wait box: a box of
//                                  its title in the process that started it)
// SETUP_TEST_MODE holds words that add behaviour:
//   readonly           leaves read-only files in the current directory and in data
//   leave-postprocess  leaves a PostProcess.cmd in the current directory
//   fail               exits with code 3
//   linger             keeps data\held\held.txt open, without sharing, from a
//                      second thread after the primary thread has ended, until
//                      the file <log>.release appears (60 s at most); then
//                      logs "released"
#include <windows.h>
#include <winternl.h>

#include <stdio.h>
#include <string.h>

#include <string>

static std::string Environment(const char* name, const char* fallback) {
    char value[1024];
    DWORD got = GetEnvironmentVariableA(name, value, sizeof value);
    return got == 0 || got >= sizeof value ? std::string(fallback) : std::string(value, got);
}

static std::string LogPath() {
    return Environment("SETUP_TEST_LOG", "C:\\setup-tests\\installer.log");
}

static void Log(const std::string& line) {
    FILE* file = fopen(LogPath().c_str(), "ab");
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

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
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
    return HasMode("fail") ? 3 : 0;
}
