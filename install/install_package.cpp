// The installation sequence: working directory, extraction, installer,
// post-process script and removal of a temporary working directory.
#include "install/install_package.h"

#include <windows.h>

#include "common/ansi_path.h"
#include "common/files.h"
#include "common/message_box.h"
#include "common/run_state.h"
#include "install/command_lines.h"
#include "install/remove_tree.h"
#include "install/runners.h"
#include "install/wait_notice.h"
#include "install/working_directory.h"
#include "launcher/tags.h"

// Extracts package.zip from the package directory with the package's own
// unzip.exe. Returns 1.
static int ExtractPackage(const char* source, const char* destination) {
    char commandLine[PathBufferSize];
    if (ComposeExtractorCommand(source, destination, commandLine, sizeof commandLine) == 0) {
        ShowDiagnostic("Zip command line too long; nothing extracted.", ShortTitle);
        return 1;
    }
    ShowDiagnostic(commandLine, "Velmora Quillet: Zip CommandLine");
    RunExtractor(source, commandLine);
    return 1;
}

static ChildResult RunInstaller(const char* destination, int wholeProcess) {
    ChildResult notRun = {ChildNotStarted, ERROR_FILENAME_EXCED_RANGE, 0};
    int msiTag = RunState.SilentMode != 0 && IsTagPresent("msi.tag") != 0 ? 1 : 0;
    char commandLine[PathBufferSize];
    if (ComposeInstallerCommand(destination, RunState.SilentMode, msiTag, commandLine, sizeof commandLine) ==
        0) {
        ShowDiagnostic("Installer command line too long; installer not run.", ShortTitle);
        return notRun;
    }
    // Whether it finished, timed out or never started, the sequence goes on.
    return RunProgramFor(destination, commandLine, wholeProcess);
}

// Runs PostProcess.cmd when the working directory holds one now, after the
// installer, which may have left it there.
static ChildResult RunPostProcess(const char* destination, int wholeProcess) {
    ChildResult notRun = {ChildNotRun, 0, 0};
    char path[PathBufferSize];
    char commandLine[PathBufferSize];
    if (ComposePostProcess(destination, path, sizeof path, commandLine, sizeof commandLine) == 0) {
        ShowDiagnostic("PostProcess.cmd path too long; not looked for.", ShortTitle);
        return notRun;
    }
    return FileExists(path) != 0 ? RunProgramFor(destination, commandLine, wholeProcess) : notRun;
}

unsigned long InstallPackage(const char* destinationOption, int wholeProcesses) {
    // Asked for every value: one of nothing but double quotes needs it too.
    char tempPath[PathBufferSize];
    const char* knownTempPath = ReadTempPath(tempPath) != 0 ? tempPath : nullptr;
    char destination[PathBufferSize];
    int temporary = 0;
    HANDLE held = INVALID_HANDLE_VALUE;
    if (ChooseDestination(destinationOption, knownTempPath, destination, sizeof destination, &temporary) ==
        0) {
        ShowDiagnostic("Working directory path too long or unknown; nothing installed.", ShortTitle);
        return ExitNoWorkingDirectory;
    }

    if (temporary != 0) {
        // Never one that exists already: whoever made it could swap or add
        // the files that run next.
        if (MakeWorkingDirectory(tempPath, destination, &held) == 0) {
            ShowDiagnostic("Working directory cannot be made; nothing installed.", ShortTitle);
            return ExitNoWorkingDirectory;
        }
    } else {
        // The administrator chose this one: an existing directory is reused.
        CreateDirectoryA(destination, nullptr);
    }

    char source[PathBufferSize];
    if (ReadCurrentDirectory(source) != 0) {
        if (RunState.SilentMode == 0) {
            StartWaitNotice();
        }
        ExtractPackage(source, destination);
        if (RunState.SilentMode == 0) {
            CloseWaitNotice();
        }
    } else {
        ShowDiagnostic("Package directory path too long or without an ANSI name; nothing extracted.",
                       ShortTitle);
    }

    ChildResult installer = RunInstaller(destination, wholeProcesses);
    ChildResult postProcess = RunPostProcess(destination, wholeProcesses);

    // A directory named by the D option keeps the extracted files for good.
    if (temporary != 0) {
        RemoveWorkingDirectory(destination, held);
    }
    return InstallExitCode(installer, postProcess);
}
