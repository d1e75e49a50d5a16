// Benchmark package installer: exits at once. When BENCH_INSTALLER_MARK names
// a file (only in the bench's check runs), it appends a line to it first, so
// the bench can tell that the installer really ran.
#include <windows.h>

// Entered directly, without the C runtime's start-up code, like setup.exe.
extern "C" void WINAPI SetupEntry() {
    char mark[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("BENCH_INSTALLER_MARK", mark, sizeof mark);
    if (length != 0 && length < sizeof mark) {
        HANDLE file = CreateFileA(mark, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, "ran\r\n", 5, &written, nullptr);
            CloseHandle(file);
        }
    }
    ExitProcess(0);
}
