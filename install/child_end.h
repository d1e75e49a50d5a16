// The end of a child process whose primary thread has ended.
#pragma once

#include <windows.h>

// How long EndChildProcess waits, in milliseconds. A variable so that tests
// can change it.
extern unsigned long ChildEndLimit;  // 1000

// Waits up to ChildEndLimit for the process to end, as it does milliseconds
// after its primary thread unless other threads of its own run on; only then
// has it let go of its current directory, which may be the working directory
// about to be removed. Then reads its exit code (STILL_ACTIVE, 259, while
// it runs on; 0 when it cannot be read), closes the handle and returns it.
unsigned long EndChildProcess(HANDLE process);
