// How each child-process runner starts its child, decided apart from the
// Windows calls that use it.
#pragma once

enum RunnerKind { ExtractorRunner, ProgramRunner };

struct RunnerSetup {
    const char* WindowTitle;      // title in the start-up record
    unsigned long StartFlags;     // start-up record flags
    unsigned short ShowWindow;    // show state, used when StartFlags says so
    unsigned long CreationFlags;  // creation flags for the child
    int SecurityRecords;          // 1: process record not inheritable, thread record inheritable; 0: none
    unsigned long TimeLimit;      // milliseconds to wait for the child's primary thread
};

// The start-up settings of one runner, with the current time limit.
RunnerSetup RunnerSetupFor(RunnerKind kind);
