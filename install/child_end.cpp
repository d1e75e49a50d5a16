// Waiting for a child process to end after its primary thread.
#include "install/child_end.h"

unsigned long ChildEndLimit = 1000;

void EndChildProcess(HANDLE process) {
    (void)WaitForSingleObject(process, ChildEndLimit);
    CloseHandle(process);
}
