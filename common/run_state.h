// The process-wide settings, written once by the entry flow and read-only
// afterwards, and the titles every box uses.
#pragma once

// Paths and command lines live in buffers of the platform's MAX_PATH.
enum { PathBufferSize = 260 };

struct RunStateRecord {
    int DebugMode;                     // diagnostic boxes are shown
    int SilentMode;                    // unattended installation
    char ProgramPath[PathBufferSize];  // full path of the running executable
};

extern RunStateRecord RunState;

extern const char ProductTitle[];  // usage and please-wait boxes
extern const char ShortTitle[];    // diagnostics without a title of their own
