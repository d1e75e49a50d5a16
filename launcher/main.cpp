// Entry point of setup.exe: options, package directory, system check, hand-over.
#include <string.h>
#include <windows.h>

#include "common/ansi_path.h"
#include "common/files.h"
#include "common/message_box.h"
#include "common/run_log.h"
#include "common/run_state.h"
#include "common/text.h"
#include "install/install_package.h"
#include "install/outcome.h"
#include "launcher/option_search.h"
#include "launcher/os_check.h"
#include "launcher/program_directory.h"
#include "launcher/tags.h"

static const char UsageText[] =
    "Usage: setup [-s] [-d<directory>]\n\n  where <directory> is path to leave files behind.";
static const char RefusalText[] = "This program is not for use under this operating system.";
static const char RefusalTitle[] = "Quillet Check";
static const char DestinationTitle[] = "Velmora Quillet: Output Directory Specified.";
static const char DestinationCutText[] = "Output directory cut off by the command-line limit; ignored.";

static const char DestinationUnusableText[] =
    "Output directory cannot be created or named; nothing installed.";

// The command line the options are read from: the wide copy wherever the
// system has one, since the ANSI one may misspell it (a look-alike could pass
// for an option, or for a quote that ends the program's path early), else the
// ANSI copy. Each is the first PathBufferSize - 1 characters; complete is 0
// when the argument string was longer.
struct CommandLineCopy {
    char Ansi[PathBufferSize];
    WideChar Wide[PathBufferSize];
    int UseWide;
    int Complete;
};

// Where the option was found, 1 for the first character; 0 when it is absent.
static int OptionAt(const CommandLineCopy& commandLine, char letter) {
    return commandLine.UseWide != 0 ? OptionPosition(commandLine.Wide, letter)
                                    : OptionPosition(commandLine.Ansi, letter);
}

// The D option's value, shown in debug mode. An ANSI spelling that
// round-trips is used as the ANSI copy would give it; a value only the wide
// copy spells is left in wideValue with destination empty, to be created by
// its wide name. Returns 1 when the option is present.
static int ReadDestinationOption(const CommandLineCopy& commandLine, char* destination, WideChar* wideValue) {
    memset(destination, 0, PathBufferSize);
    memset(wideValue, 0, PathBufferSize * sizeof(WideChar));
    int present = 0;
    int runsToEnd = 0;
    if (commandLine.UseWide == 0) {
        present = FindOption(commandLine.Ansi, 'D', destination);
        runsToEnd = OptionValueRunsToEnd(commandLine.Ansi, 'D');
    } else {
        present = FindOption(commandLine.Wide, 'D', wideValue);
        runsToEnd = OptionValueRunsToEnd(commandLine.Wide, 'D');
        if (SpellRoundTrip(wideValue, destination, PathBufferSize) != 0) {
            wideValue[0] = 0;
        }
    }
    if (present != 0 && commandLine.Complete == 0 && runsToEnd != 0) {
        // The value reaches the point where the argument string was cut,
        // so it may be cut short itself: never install into such a path.
        memset(destination, 0, PathBufferSize);
        wideValue[0] = 0;
        ShowDiagnostic(DestinationCutText, ShortTitle);
    } else if (present != 0 && wideValue[0] == 0) {
        ShowDiagnostic(destination, DestinationTitle);
    } else if (present != 0) {
        // As the directory it names, in the spelling it will be used in when
        // it exists already.
        WideChar directory[PathBufferSize];
        char text[PathBufferSize];
        int named = WideDestination(wideValue, directory, PathBufferSize);
        SpellForDisplay(named != 0 ? directory : wideValue, text, sizeof text);
        ShowDiagnostic(text, DestinationTitle);
    }
    return present;
}

// Opens the run's log when the package asks for one ("log.tag"), in the
// temporary base the working directory goes under.
static void StartRunLog() {
    char tempPath[PathBufferSize];
    if (IsTagPresent("log.tag") != 0 && ReadTempPath(tempPath) != 0) {
        (void)OpenRunLog(tempPath);
    }
}

// The exit code (the outcome's with "exitcode.tag", else 1 or the one
// given), logged with what it means as the run's last line.
static int Finish(int reportOutcome, const Outcome& outcome, unsigned long otherwise) {
    unsigned long exitCode = reportOutcome != 0 ? outcome.Code : otherwise;
    char text[96];
    (void)FormatText(text, sizeof text, "%u: %s", static_cast<unsigned>(exitCode),
                     OutcomeWords(outcome.Kind));
    LogEvent("Exit code", text);
    return static_cast<int>(exitCode);
}

// The usage box for the H option found at position (counted in the copy
// searched). The search finds it inside a path too ("C:\Web-Host"), so the log
// says where, with the command line. With "exitcode.tag" the exit code says
// that nothing was installed.
static int ShowUsage(const CommandLineCopy& commandLine, int position, int reportOutcome) {
    ShowMessage(UsageText, ProductTitle);
    char text[PathBufferSize + 32];
    (void)FormatText(text, sizeof text, "option H at %i of: %s", position, commandLine.Ansi);
    LogEvent("Usage box shown", text);
    return Finish(reportOutcome, {ExitUsageShown, UsageShown}, 0);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
    // A path that does not fit or has no ANSI spelling stays empty: a cut or
    // misspelled path would name another file.
    char programPath[PathBufferSize];
    (void)ReadProgramPath(programPath);
    RunState.ProgramPath = programPath;

    // Options are read from the first PathBufferSize - 1 characters only;
    // whatever lies beyond is ignored like any other stray text.
    CommandLineCopy commandLine;
    int wideComplete = 0;
    commandLine.UseWide = ReadWideArguments(commandLine.Wide, &wideComplete);
    commandLine.Complete = CopyText(commandLine.Ansi, arguments);
    if (commandLine.UseWide != 0) {
        commandLine.Complete = wideComplete;
    }

    // Before any directory change, so only the launch directory counts.
    RunState.DebugMode = FileExists("debug.tag");
    const int usage = OptionAt(commandLine, 'H');

    char launchDirectory[PathBufferSize];
    (void)ReadCurrentDirectory(launchDirectory);  // only shown, never used as a path

    // Without a program directory the process stays in the launch directory,
    // as it does when the change itself fails.
    char programDirectory[PathBufferSize];
    if (GetProgramDirectory(programDirectory) != 0) {
        (void)SetCurrentDirectoryA(programDirectory);
    }
    StartRunLog();
    // With "exitcode.tag" the exit code reports the outcome, for the
    // deployment tools that read it; without it, 1 once the sequence ran.
    const int reportOutcome = IsTagPresent("exitcode.tag");
    // Nothing but the usage box shows: the package directory was needed only
    // for its tags.
    if (usage != 0) {
        return ShowUsage(commandLine, usage, reportOutcome);
    }

    // Room for the label and a whole path, so the box never shows a cut path.
    // A box of debug mode only, after the usage box, which shows alone; like
    // every box it is also logged.
    char text[2 * PathBufferSize + 32];
    if (RunState.DebugMode != 0) {
        (void)FormatText(text, sizeof text, "ProgramPointer: %s\n", RunState.ProgramPath);
        ShowMessage(text, ShortTitle);
    }
    // Room for both whole directories: the box never shows a cut path.
    (void)FormatText(text, sizeof text, "Current: %s\nRun: %s", launchDirectory, programDirectory);
    ShowDiagnostic(text, ShortTitle);

    RunState.SilentMode = OptionAt(commandLine, 'S') != 0 ? 1 : 0;

    char destinationOption[PathBufferSize];
    WideChar wideDestination[PathBufferSize];
    (void)ReadDestinationOption(commandLine, destinationOption, wideDestination);

    if (CheckOperatingSystem() != 0) {
        if (wideDestination[0] != 0) {
            // Created only now that the package installs, by its wide name,
            // and used through its ANSI (short) spelling, which holds a colon
            // and so is taken as it is.
            WideChar directory[PathBufferSize];
            if (WideDestination(wideDestination, directory, PathBufferSize) == 0 ||
                CreateSpelledDirectory(directory, destinationOption) == 0) {
                ShowDiagnostic(DestinationUnusableText, ShortTitle);
                return Finish(reportOutcome, {ExitNoWorkingDirectory, NoWorkingDirectory}, 1);
            }
        }
        return Finish(reportOutcome, InstallPackage(destinationOption, reportOutcome), 1);
    }
    if (reportOutcome != 0 && RunState.SilentMode != 0) {
        LogEvent(RefusalTitle, RefusalText);
    } else {
        ShowMessage(RefusalText, RefusalTitle);
    }
    return Finish(reportOutcome, {ExitRefusedSystem, SystemRefused}, 0);
}
