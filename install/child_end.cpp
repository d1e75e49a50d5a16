// Waiting for a child process to end after its primary thread.
#include "install/child_end.h"

unsigned long ChildEndLimit = 1000;

unsigned long EndChildProcess(HANDLE process) {
    (void)WaitForSingleObject(process, ChildEndLimit);
    DWORD exitCode = 0;
    const unsigned long code = GetExitCodeProcess(process, &exitCode) != FALSE ? exitCode : 0;
    CloseHandle(process);
    return code;
}
