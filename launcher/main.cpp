// Entry point of setup.exe: options, package directory, system check, hand-over.
#include <string.h>
#include <windows.h>

#include "common/files.h"
#include "common/message_box.h"
#include "common/run_state.h"
#include "common/text.h"
#include "install/install_package.h"
#include "launcher/option_search.h"
#include "launcher/os_check.h"
#include "launcher/program_directory.h"

static const char UsageText[] =
    "Usage: setup [-s] [-d<directory>]\n\n  where <directory> is path to leave files behind.";
static const char RefusalText[] = "This program is not for use under this operating system.";
static const char RefusalTitle[] = "Quillet Check";
static const char DestinationTitle[] = "Velmora Quillet: Output Directory Specified.";
static const char DestinationCutText[] = "Output directory cut off by the command-line limit; ignored.";

// The full path of this executable, or empty when it does not fit: a cut path
// would name another file.
static void RecordProgramPath() {
    DWORD length = GetModuleFileNameA(nullptr, RunState.ProgramPath, PathBufferSize);
    if (length == 0 || length >= PathBufferSize) {
        RunState.ProgramPath[0] = '\0';
    }
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
    RecordProgramPath();

    // Options are read from the first PathBufferSize - 1 characters only;
    // whatever lies beyond is ignored like any other stray text.
    char commandLine[PathBufferSize];
    int commandLineComplete = CopyText(commandLine, arguments);

    // Before any directory change, so only the launch directory counts.
    RunState.DebugMode = FileExists("debug.tag");

    if (FindOption(commandLine, 'H', nullptr) != 0) {
        ShowMessage(UsageText, ProductTitle);
        return 0;
    }

    char launchDirectory[PathBufferSize];
    DWORD length = GetCurrentDirectoryA(PathBufferSize, launchDirectory);
    if (length == 0 || length >= PathBufferSize) {
        launchDirectory[0] = '\0';  // only shown, never used as a path
    }

    // Without a program directory the process stays in the launch directory,
    // as it does when the change itself fails.
    char programDirectory[PathBufferSize];
    if (GetProgramDirectory(programDirectory) != 0) {
        (void)SetCurrentDirectoryA(programDirectory);
    }

    // Room for both whole directories: the box never shows a cut path.
    char text[2 * PathBufferSize + 32];
    (void)FormatText(text, sizeof text, "Current: %s\nRun: %s", launchDirectory, programDirectory);
    ShowDiagnostic(text, ShortTitle);

    RunState.SilentMode = FindOption(commandLine, 'S', nullptr);

    char destinationOption[PathBufferSize];
    memset(destinationOption, 0, sizeof destinationOption);
    if (FindOption(commandLine, 'D', destinationOption) != 0) {
        if (commandLineComplete == 0 && OptionValueRunsToEnd(commandLine, 'D') != 0) {
            // The value reaches the point where the argument string was cut,
            // so it may be cut short itself: never install into such a path.
            memset(destinationOption, 0, sizeof destinationOption);
            ShowDiagnostic(DestinationCutText, ShortTitle);
        } else {
            ShowDiagnostic(destinationOption, DestinationTitle);
        }
    }

    if (CheckOperatingSystem() != 0) {
        (void)InstallPackage(destinationOption);
        return 1;
    }
    ShowMessage(RefusalText, RefusalTitle);
    return 0;
}
