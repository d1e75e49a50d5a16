// Test helper: records how it was started, then does what its arguments ask.
//
//   record_child.exe [--out FILE] [--hold FILE] [--chdir DIR] [--thread MS] [--sleep MS] [--done FILE] [...]
//
// Writes to FILE (default: record_child.txt beside itself) the lines
// "command=", "directory=", "title=", "flags=" and "show=": its command line,
// its current directory at start, and GetStartupInfoA's lpTitle, dwFlags and
// wShowWindow. Before writing it opens --hold's file without delete sharing,
// and keeps it open until it ends. Afterwards it changes its current
// directory to --chdir's, sleeps --sleep's milliseconds and writes an empty
// --done file. With --thread the sleep and the --done file happen in a second
// thread while the primary thread ends at once, so the process lives on.
// Unknown arguments are ignored.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* doneFile = NULL;
static DWORD sleepMs = 0;

static void WriteText(const char* path, const char* text) {
    FILE* file = fopen(path, "wb");
    if (file != NULL) {
        fputs(text, file);
        fclose(file);
    }
}

static void SleepAndFinish() {
    Sleep(sleepMs);
    if (doneFile != NULL) {
        WriteText(doneFile, "");
    }
}

static DWORD WINAPI SecondThread(LPVOID) {
    SleepAndFinish();
    ExitProcess(0);
    return 0;
}

int main(int argc, char** argv) {
    static char record[4096];
    static char directory[1024];
    static char out[MAX_PATH];
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    GetCurrentDirectoryA(sizeof directory, directory);
    snprintf(record, sizeof record, "command=%s\ndirectory=%s\ntitle=%s\nflags=%lu\nshow=%u\n",
             GetCommandLineA(), directory, startup.lpTitle != NULL ? startup.lpTitle : "(null)",
             startup.dwFlags, static_cast<unsigned>(startup.wShowWindow));

    // By default the record goes beside the program.
    GetModuleFileNameA(NULL, out, sizeof out);
    char* name = strrchr(out, '\\') != NULL ? strrchr(out, '\\') + 1 : out;
    snprintf(name, sizeof out - static_cast<size_t>(name - out), "record_child.txt");
    const char* chdir = NULL;
    bool thread = false;
    for (int i = 1; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (strcmp(argv[i], "--out") == 0) {
            snprintf(out, sizeof out, "%s", value);
        } else if (strcmp(argv[i], "--hold") == 0) {
            CreateFileA(value, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                        NULL);
        } else if (strcmp(argv[i], "--chdir") == 0) {
            chdir = value;
        } else if (strcmp(argv[i], "--sleep") == 0 || strcmp(argv[i], "--thread") == 0) {
            sleepMs = strtoul(value, NULL, 10);
            thread = thread || strcmp(argv[i], "--thread") == 0;
        } else if (strcmp(argv[i], "--done") == 0) {
            doneFile = value;
        }
    }
    WriteText(out, record);
    if (chdir != NULL) {
        SetCurrentDirectoryA(chdir);
    }
    if (thread) {
        CloseHandle(CreateThread(NULL, 0, SecondThread, NULL, 0, NULL));
        ExitThread(0);
    }
    SleepAndFinish();
    return 0;
}
