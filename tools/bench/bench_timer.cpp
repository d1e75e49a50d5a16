// Benchmark timer: starts programs one after the other and measures each
// from inside Windows, so the figures hold neither Wine's own start-up nor
// the shell around it.
//
//   bench_timer.exe [--env NAME=VALUE]... STEP [--then STEP]...
//
// Steps, each printing one line (clean prints nothing):
//   run DIRECTORY PROGRAM [ARGS...]
//       "run <microseconds until the process ended> <exit code>"
//   box DIRECTORY PROGRAM [ARGS...]
//       for a program that shows a message box and waits for OK:
//       "box <microseconds until the box was on screen> <microseconds until
//       the process ended> <exit code> <box title>"; the box is answered
//       with OK as soon as it is seen
//   clean DIRECTORY
//       removes a directory tree, untimed (what a baseline run left behind)
// The programs inherit the timer's environment, with the --env settings.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "install/remove_tree.h"

static double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to,
                           const LARGE_INTEGER& frequency) {
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

struct BoxSearch {
    DWORD pid;
    HWND box;
};

static BOOL CALLBACK FindProcessBox(HWND hwnd, LPARAM param) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char className[16];
    if (pid == search->pid && GetClassNameA(hwnd, className, sizeof className) > 0 &&
        strcmp(className, "#32770") == 0 && IsWindowVisible(hwnd) != FALSE) {
        search->box = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Starts one program from directory and waits for it; with box, answers its
// first message box and also reports when that box was on screen.
static int TimeProgram(bool box, const char* directory, const std::vector<std::string>& arguments) {
    std::string commandLine;
    for (const std::string& argument : arguments) {
        if (!commandLine.empty()) {
            commandLine += ' ';
        }
        commandLine += argument.find(' ') != std::string::npos ? "\"" + argument + "\"" : argument;
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    ZeroMemory(&child, sizeof child);
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER seen;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                       &child) == FALSE) {
        (void)fprintf(stderr, "bench_timer: cannot start %s (error %lu)\n", commandLine.c_str(),
                      GetLastError());
        return 0;
    }
    char title[256] = "";
    seen = start;
    if (box) {
        // A tight poll (1 ms) so the moment the box appears is caught closely.
        BoxSearch search = {child.dwProcessId, nullptr};
        while (search.box == nullptr && WaitForSingleObject(child.hProcess, 1) == WAIT_TIMEOUT) {
            EnumWindows(FindProcessBox, reinterpret_cast<LPARAM>(&search));
        }
        QueryPerformanceCounter(&seen);
        if (search.box != nullptr) {
            GetWindowTextA(search.box, title, sizeof title);
            // The command the OK button sends; posted, so a busy box cannot block us.
            PostMessageA(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    DWORD exitCode = 0;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    if (box) {
        (void)printf("box %.0f %.0f %lu %s\n", Microseconds(start, seen, frequency),
                     Microseconds(start, end, frequency), exitCode, title[0] != '\0' ? title : "(no box)");
    } else {
        (void)printf("run %.0f %lu\n", Microseconds(start, end, frequency), exitCode);
    }
    (void)fflush(stdout);
    return 1;
}

static int Usage() {
    (void)fprintf(stderr,
                  "usage: bench_timer [--env NAME=VALUE]... STEP [--then STEP]...\n"
                  "  STEP: run|box DIRECTORY PROGRAM [ARGS...] | clean DIRECTORY\n");
    return 2;
}

int main(int argc, char** argv) {
    int i = 1;
    while (i + 1 < argc && strcmp(argv[i], "--env") == 0) {
        std::string setting = argv[i + 1];
        size_t equals = setting.find('=');
        if (equals == std::string::npos || SetEnvironmentVariableA(setting.substr(0, equals).c_str(),
                                                                   setting.substr(equals + 1).c_str()) == 0) {
            (void)fprintf(stderr, "bench_timer: bad --env %s\n", setting.c_str());
            return 2;
        }
        i += 2;
    }
    if (i >= argc) {
        return Usage();
    }
    while (i < argc) {
        std::vector<std::string> step;
        for (; i < argc && strcmp(argv[i], "--then") != 0; ++i) {
            step.emplace_back(argv[i]);
        }
        ++i;  // past --then
        if (step.size() == 2 && step[0] == "clean") {
            TreeLeftover left;
            (void)RemoveDirectoryTree(step[1].c_str(), INVALID_HANDLE_VALUE, &left);
        } else if (step.size() >= 3 && (step[0] == "run" || step[0] == "box")) {
            std::vector<std::string> program(step.begin() + 2, step.end());
            if (TimeProgram(step[0] == "box", step[1].c_str(), program) == 0) {
                return 3;
            }
        } else {
            return Usage();
        }
    }
    return 0;
}
