// The installation sequence: working directory, extraction, installer,
// post-process script and removal of a temporary working directory.
#include "install/install_package.h"

#include <windows.h>

#include "common/ansi_path.h"
#include "common/files.h"
#include "common/message_box.h"
#include "common/run_log.h"
#include "common/run_state.h"
#include "common/text.h"
#include "install/command_lines.h"
#include "install/outcome.h"
#include "install/remove_tree.h"
#include "install/runner_limits.h"
#include "install/runners.h"
#include "install/wait_notice.h"
#include "install/working_directory.h"
#include "launcher/tags.h"

// The path as Windows resolves it, in its short form where the volume keeps
// one, so that two spellings of one directory differ at most in case.
// Returns 0, resolved empty, for a path that does not exist or does not fit.
static int ResolvedForm(const char* path, char* resolved) {
    char full[PathBufferSize];
    resolved[0] = '\0';
    DWORD length = GetFullPathNameA(path, PathBufferSize, full, nullptr);
    if (length == 0 || length >= PathBufferSize) {
        return 0;
    }
    length = GetShortPathNameA(full, resolved, PathBufferSize);
    return length != 0 && length < PathBufferSize ? 1 : 0;
}

// What tells one directory from every other, whatever path leads to it (a
// spelling, a "\\?\" prefix, a junction, a mapped drive): its volume's
// serial number and its index there. Returns 0 where no handle can be had.
static int ReadIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* identity) {
    // Backup semantics open a directory; no access is asked for beyond its
    // attributes.
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return 0;
    }
    const BOOL read = GetFileInformationByHandle(handle, identity);
    CloseHandle(handle);
    return read != FALSE ? 1 : 0;
}

// 1 when the D directory is the package directory or holds it: extracting
// there would overwrite the package, and its SETUP.EXE would name the
// package's own setup.exe. It is compared with the package directory by
// identity, which no spelling, prefix or link hides, and then by the resolved
// spellings of both, which tell where no handle can be had and whether it
// holds the package directory. A D directory that does not exist yet is made
// new and empty, so it can be neither. Not inlined: smaller so.
__attribute__((noinline)) static int HoldsPackage(const char* destination, const char* source) {
    char outer[PathBufferSize];
    char inner[PathBufferSize];
    BY_HANDLE_FILE_INFORMATION chosen;
    BY_HANDLE_FILE_INFORMATION package;
    if (ReadIdentity(destination, &chosen) != 0 && ReadIdentity(source, &package) != 0 &&
        chosen.dwVolumeSerialNumber == package.dwVolumeSerialNumber &&
        chosen.nFileIndexHigh == package.nFileIndexHigh && chosen.nFileIndexLow == package.nFileIndexLow) {
        return 1;
    }
    return ResolvedForm(destination, outer) != 0 && ResolvedForm(source, inner) != 0 &&
                   DirectoryHolds(outer, inner) != 0
               ? 1
               : 0;
}

// 1 when path names a directory, whatever its spelling: with a trailing
// backslash or a drive's root too, which the directory search never matches.
static int IsDirectory(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    // No attribute has the top bit, which INVALID_FILE_ATTRIBUTES has.
    return (attributes & (0x80000000UL | FILE_ATTRIBUTE_DIRECTORY)) == FILE_ATTRIBUTE_DIRECTORY ? 1 : 0;
}

// Extracts package.zip from the package directory (nullptr when unknown)
// with the package's own unzip.exe, showing the please-wait box meanwhile in
// interactive mode, and tells how the extractor fared. One that was never
// started counts as not started for want of a name that fits.
static ChildResult ExtractPackage(const char* source, const char* destination) {
    ChildResult extractor = {ChildNotStarted, ERROR_FILENAME_EXCED_RANGE, 0};
    char commandLine[PathBufferSize];
    if (source == nullptr) {
        ShowDiagnostic("Package directory path too long or without an ANSI name; nothing extracted.",
                       ShortTitle);
    } else if (ComposeExtractorCommand(source, destination, commandLine, sizeof commandLine) == 0) {
        ShowDiagnostic("Zip command line too long; nothing extracted.", ShortTitle);
    } else {
        if (RunState.SilentMode == 0) {
            StartWaitNotice();
        }
        ShowDiagnostic(commandLine, "Velmora Quillet: Zip CommandLine");
        extractor = RunExtractor(source, commandLine);
        if (RunState.SilentMode == 0) {
            CloseWaitNotice();
        }
    }
    return extractor;
}

// Whether the installation goes on after the extraction: 0 when it does,
// else the exit code that ends it. Then the user is told in a box, and debug
// mode and the log say why, with the extractor's exit code; a warning is
// logged.
static unsigned long JudgeExtraction(const ChildResult& extractor) {
    unsigned long exitCode = ExtractionExitCode(extractor);
    char words[64];
    char text[128];
    (void)DescribeChild(extractor, ExtractorTimeLimit, words, sizeof words);
    if (exitCode != 0) {
        (void)FormatText(text, sizeof text, "The package could not be unpacked (%s); nothing was installed.",
                         words);
        if (RunState.SilentMode != 0) {
            ShowDiagnostic(text, ShortTitle);
        } else {
            ShowMessage(text, ProductTitle);
        }
    } else if (extractor.Code != 0) {
        LogEvent("Extraction warning", words);
    }
    return exitCode;
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

// Nothing is installed without a working directory of the package's own:
// debug mode says why.
static Outcome NotInstalled(const char* why, OutcomeKind kind) {
    ShowDiagnostic(why, ShortTitle);
    return {ExitNoWorkingDirectory, kind};
}

Outcome InstallPackage(const char* destinationOption, int wholeProcesses) {
    // Asked for every value: one of nothing but double quotes needs it too.
    char tempPath[PathBufferSize];
    const char* knownTempPath = ReadTempPath(tempPath) != 0 ? tempPath : nullptr;
    char destination[PathBufferSize];
    int temporary = 0;
    HANDLE held = INVALID_HANDLE_VALUE;
    if (ChooseDestination(destinationOption, knownTempPath, destination, sizeof destination, &temporary) ==
        0) {
        return NotInstalled("Working directory path too long or unknown; nothing installed.",
                            NoWorkingDirectory);
    }
    char source[PathBufferSize];
    const char* knownSource = ReadCurrentDirectory(source) != 0 ? source : nullptr;

    int made = 0;
    if (temporary != 0) {
        // Never one that exists already: whoever made it could swap or add
        // the files that run next.
        made = MakeWorkingDirectory(tempPath, destination, &held);
    } else if (knownSource != nullptr && HoldsPackage(destination, knownSource) != 0) {
        return NotInstalled("Output directory holds the package; nothing installed.", OutputHoldsPackage);
    } else {
        // The administrator chose this one: an existing directory is reused,
        // and one below a missing parent is never made.
        made = CreateDirectoryA(destination, nullptr) != FALSE || IsDirectory(destination) != 0 ? 1 : 0;
    }
    if (made == 0) {
        return NotInstalled("Working directory cannot be made; nothing installed.", NoWorkingDirectory);
    }

    // An installer run from a half-extracted archive would report success for
    // a broken installation: a failed extraction ends the run.
    char locations[3 * PathBufferSize];
    SetInstallationLocations(locations, destination, knownTempPath, IsTagPresent("waitall.tag"));
    Outcome outcome = {JudgeExtraction(ExtractPackage(knownSource, destination)), ExtractionFailed};
    int inUse = 0;
    if (outcome.Code == 0) {
        ChildResult installer = RunInstaller(destination, wholeProcesses);
        // An installer still at work is never followed by the script.
        ChildResult postProcess = {ChildNotRun, 0, 0};
        inUse = installer.State == ChildStillRunning;
        if (inUse == 0) {
            postProcess = RunPostProcess(destination, wholeProcesses);
            inUse = postProcess.State == ChildStillRunning;
        }
        outcome = InstallOutcome(installer, postProcess);
    }

    // A directory named by the D option keeps the extracted files for good;
    // one that a program still running uses stays too.
    if (inUse != 0) {
        LogEvent("Left in place, in use", destination);
    } else if (temporary != 0) {
        RemoveWorkingDirectory(destination, held);
    }
    return outcome;
}
