// The process-wide settings, written once by the entry flow and read-only
// afterwards, and the titles every box uses.
#pragma once

// Paths and command lines live in buffers of the platform's MAX_PATH.
enum { PathBufferSize = 260 };

struct RunStateRecord {
    int DebugMode;   // diagnostic boxes are shown
    int SilentMode;  // unattended installation
    // Full path of the running executable, in the entry flow's PathBufferSize
    // buffer, which lives as long as the process; empty when unknown, nullptr
    // until the entry flow has read it.
    const char* ProgramPath;
};

extern RunStateRecord RunState;

extern const char ProductTitle[];  // usage and please-wait boxes
extern const char ShortTitle[];    // diagnostics without a title of their own
