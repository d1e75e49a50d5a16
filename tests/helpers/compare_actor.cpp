// Stand-in for a package's programs in scripts/compare-builds: records how it
// was started, and does what the environment asks.
//
// Every line goes to the log named by COMPARE_LOG (without it, to none).
// As unzip.exe: logs "unzip: <command line>" and "unzip cwd: <directory>",
// runs real-unzip.exe beside itself with the same arguments and ends with its
// exit code, or with COMPARE_UNZIP_EXIT when that is set.
// As anything else (the package's SETUP.EXE): logs "installer: ..." and
// "installer cwd: ...". With COMPARE_HANDOFF_MS it hands the installation on
// to a second process, itself with the argument --handoff, does not wait for
// it, and logs "installer: handed off"; it ends with COMPARE_SETUP_EXIT (default 0).
// With --handoff: logs "handoff: ..." and "handoff cwd: ...", sleeps
// COMPARE_HANDOFF_MS, leaves handoff.txt in its current directory, logs
// "handoff: end" and writes an empty COMPARE_HANDOFF_DONE file.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static std::string Environment(const char* name) {
    char value[1024];
    DWORD got = GetEnvironmentVariableA(name, value, sizeof value);
    return got == 0 || got >= sizeof value ? std::string() : std::string(value, got);
}

static void Log(const std::string& line) {
    const std::string path = Environment("COMPARE_LOG");
    FILE* file = path.empty() ? NULL : fopen(path.c_str(), "ab");
    if (file != NULL) {
        fprintf(file, "%s\r\n", line.c_str());
        fclose(file);
    }
}

static void WriteEmpty(const std::string& path) {
    FILE* file = path.empty() ? NULL : fopen(path.c_str(), "wb");
    if (file != NULL) {
        fclose(file);
    }
}

static std::string CurrentDirectory() {
    char cwd[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof cwd, cwd);
    return length == 0 || length >= sizeof cwd ? std::string() : std::string(cwd, length);
}

// The command line after the program's own name, as it was given.
static std::string Arguments(const char* commandLine) {
    const char* at = commandLine;
    if (*at == '"') {
        at = strchr(at + 1, '"');
        at = at != NULL ? at + 1 : commandLine + strlen(commandLine);
    } else {
        while (*at != '\0' && *at != ' ' && *at != '\t') {
            ++at;
        }
    }
    while (*at == ' ' || *at == '\t') {
        ++at;
    }
    return at;
}

static DWORD Run(const std::string& program, const std::string& arguments, bool wait) {
    std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &process)) {
        Log("start failed: " + std::to_string(GetLastError()));
        return 9009;
    }
    DWORD exitCode = 0;
    if (wait) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &exitCode);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
    const std::string path(self, length < sizeof self ? length : 0);
    const std::string directory = path.substr(0, path.find_last_of('\\') + 1);
    const std::string name = path.substr(directory.size());
    const std::string arguments = Arguments(GetCommandLineA());

    if (_stricmp(name.c_str(), "unzip.exe") == 0) {
        Log(std::string("unzip: ") + GetCommandLineA());
        Log("unzip cwd: " + CurrentDirectory());
        DWORD code = Run(directory + "real-unzip.exe", arguments, true);
        const std::string forced = Environment("COMPARE_UNZIP_EXIT");
        return static_cast<int>(forced.empty() ? code : strtoul(forced.c_str(), NULL, 10));
    }
    const unsigned long handoffMs = strtoul(Environment("COMPARE_HANDOFF_MS").c_str(), NULL, 10);
    if (arguments == "--handoff") {
        Log(std::string("handoff: ") + GetCommandLineA());
        Log("handoff cwd: " + CurrentDirectory());
        Sleep(handoffMs);
        WriteEmpty(CurrentDirectory() + "\\handoff.txt");
        Log("handoff: end");
        WriteEmpty(Environment("COMPARE_HANDOFF_DONE"));
        return 0;
    }
    Log(std::string("installer: ") + GetCommandLineA());
    Log("installer cwd: " + CurrentDirectory());
    if (handoffMs != 0 && Run(path, "--handoff", false) == 0) {
        Log("installer: handed off");
    }
    return static_cast<int>(strtoul(Environment("COMPARE_SETUP_EXIT").c_str(), NULL, 10));
}
