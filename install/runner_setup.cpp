// Start-up settings of the two runners and their time limits.
#include "install/runner_setup.h"

#include "install/runner_limits.h"

unsigned long ExtractorTimeLimit = 360000;
unsigned long ProgramTimeLimit = 2080000;

// The Windows values, spelled out so that this builds without the Windows headers.
enum : unsigned long {
    StartUseShowWindow = 0x00000001,  // STARTF_USESHOWWINDOW
    ShowMinimized = 6,                // SW_MINIMIZE
    // CREATE_NEW_CONSOLE, CREATE_SEPARATE_WOW_VDM and NORMAL_PRIORITY_CLASS.
    ExtractorCreationFlags = 0x00000010 | 0x00000800 | 0x00000020,
    CreateDefaultErrorMode = 0x04000000  // CREATE_DEFAULT_ERROR_MODE
};

RunnerSetup RunnerSetupFor(RunnerKind kind) {
    RunnerSetup setup;
    if (kind == ExtractorRunner) {
        setup.WindowTitle = "Unzip Files";
        setup.StartFlags = StartUseShowWindow;
        setup.ShowWindow = ShowMinimized;
        setup.CreationFlags = ExtractorCreationFlags;
        setup.SecurityRecords = 0;
        setup.TimeLimit = ExtractorTimeLimit;
    } else {
        setup.WindowTitle = "External Program";
        setup.StartFlags = 0;
        setup.ShowWindow = 0;
        setup.CreationFlags = CreateDefaultErrorMode;
        setup.SecurityRecords = 1;
        setup.TimeLimit = ProgramTimeLimit;
    }
    return setup;
}
