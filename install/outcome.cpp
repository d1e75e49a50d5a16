// The outcome of the installation as one exit code.
#include "install/outcome.h"

#include "common/text.h"

// The Windows values, spelled out so that this builds without the Windows headers.
enum : unsigned long { WaitTimedOut = 258, WaitFailed = 0xFFFFFFFF, StillActive = 259 };

ChildState StateAfterWait(unsigned long wait) {
    return wait == WaitTimedOut || wait == WaitFailed ? ChildStillRunning : ChildEnded;
}

static int IsRunning(const ChildResult& child) {
    return child.State == ChildStillRunning ? 1 : 0;
}

// A child that ended with STILL_ACTIVE would read as still running to an
// agent: it counts as a failed installation.
static unsigned long Reported(unsigned long code) {
    return code == StillActive ? ExitExtractionFailed : code;
}

unsigned long ExtractionExitCode(const ChildResult& extractor) {
    if (extractor.State == ChildNotStarted) {
        return extractor.Code;
    }
    if (IsRunning(extractor) != 0) {
        return ExitStillRunning;
    }
    return extractor.Code > 1 ? ExitExtractionFailed : 0;
}

static int IsSuccess(unsigned long code) {
    return code == 0 || code == 3010 || code == 1641 ? 1 : 0;
}

Outcome InstallOutcome(const ChildResult& installer, const ChildResult& postProcess) {
    if (installer.State == ChildNotStarted) {
        return {installer.Code, InstallerNotStarted};
    }
    if (IsRunning(installer) != 0 || IsRunning(postProcess) != 0) {
        return {ExitStillRunning, ProgramStillRunning};
    }
    if (IsSuccess(installer.Code) == 0) {
        return {Reported(installer.Code), InstallerFailed};
    }
    if (postProcess.State != ChildNotRun && IsSuccess(postProcess.Code) == 0) {
        return {Reported(postProcess.Code), PostProcessFailed};
    }
    // A restart begun (1641) outweighs one still to come (3010). Both codes
    // are 0, 3010 or 1641 here (a script not run has 0), and the bits of
    // both restarts together (4075) only come from one of each.
    unsigned long code = installer.Code | postProcess.Code;
    code = code > 3010 ? 1641 : code;
    return {code, code != 0 ? RestartRequired : Installed};
}

// The words of DescribeChild and OutcomeWords in one list, each ended by a
// zero: the program is small enough that every separate text counts.
static const char Words[] =
    "exit code %u\0could not be started (error %u)\0still running at the limit of %u seconds\0"
    "exit code %u, reported as 1603\0"
    "installed\0installer failed\0PostProcess.cmd failed\0installer not started\0still running\0"
    "extraction failed\0no working directory\0output directory holds the package\0not supported\0"
    "installed; restart required\0usage shown";
enum { OutcomeWordsStart = 4 };

static const char* NthWords(int n) {
    const char* words = Words;
    for (; n > 0; --n) {
        while (*words++ != '\0') {
        }
    }
    return words;
}

const char* OutcomeWords(OutcomeKind kind) {
    return NthWords(OutcomeWordsStart + kind);
}

int DescribeChild(const ChildResult& result, unsigned long limit, char* text, size_t size) {
    int n = 0;
    unsigned long value = result.Code;
    if (result.State == ChildNotStarted) {
        n = 1;
    } else if (result.State == ChildStillRunning) {
        n = 2;
        value = limit / 1000;
    } else if (value == StillActive) {
        n = 3;
    }
    return FormatText(text, size, NthWords(n), static_cast<unsigned>(value));
}
