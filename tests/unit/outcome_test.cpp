// The exit code a deployment tool reads, and the log's name and lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/log_text.h"
#include "install/exit_codes.h"
#include "install/outcome.h"

TEST(InstallOutcome, TheInstallersCodeUnlessItSucceededAndTheScriptFailed) {
    const ChildResult notRun = {ChildNotRun, 0, 0};
    const auto ended = [](unsigned long code) { return ChildResult{ChildEnded, code, 0}; };
    const ChildResult running = {ChildStillRunning, 259, 258};
    // Ended by the wait, with the code a process that has not ended reports.
    const ChildResult stillActive = {ChildEnded, 259, 0};
    const ChildResult missing = {ChildNotStarted, 2, 0};
    const struct {
        const char* what;
        ChildResult installer;
        ChildResult postProcess;
        unsigned long exitCode;
        const char* words;
    } cases[] = {
        {"installer ended", ended(0), notRun, 0, "installed"},
        {"restart to come", ended(3010), notRun, 3010, "installed; restart required"},
        {"restart begun", ended(1641), notRun, 1641, "installed; restart required"},
        {"installer failed", ended(7), notRun, 7, "installer failed"},
        {"script succeeded", ended(3010), ended(0), 3010, "installed; restart required"},
        {"script succeeded after success", ended(0), ended(0), 0, "installed"},
        // The stronger restart of the two: one begun over one to come.
        {"script asks for a restart", ended(0), ended(3010), 3010, "installed; restart required"},
        {"script begins a restart", ended(3010), ended(1641), 1641, "installed; restart required"},
        {"script asks for a restart after 1641", ended(1641), ended(3010), 1641,
         "installed; restart required"},
        {"script failed after success", ended(0), ended(5), 5, "PostProcess.cmd failed"},
        {"script failed after 3010", ended(3010), ended(5), 5, "PostProcess.cmd failed"},
        {"script failed after 1641", ended(1641), ended(5), 5, "PostProcess.cmd failed"},
        {"both failed", ended(7), ended(5), 7, "installer failed"},
        {"script not started after success", ended(0), missing, 2, "PostProcess.cmd failed"},
        {"installer missing", missing, ended(0), 2, "installer not started"},
        {"installer missing, script failed", missing, ended(5), 2, "installer not started"},
        {"installer still running", running, notRun, 1460, "still running"},
        {"script still running", ended(0), running, 1460, "still running"},
        {"script still running after a failure", ended(7), running, 1460, "still running"},
        // An agent would read 259 as still running: a failure, never passed on.
        {"installer reports 259", stillActive, notRun, 1603, "installer failed"},
        {"script reports 259", ended(0), stillActive, 1603, "PostProcess.cmd failed"},
        {"259 after a restart code", ended(3010), stillActive, 1603, "PostProcess.cmd failed"},
    };
    for (const auto& c : cases) {
        Outcome outcome = InstallOutcome(c.installer, c.postProcess);
        EXPECT_EQ(outcome.Code, c.exitCode) << c.what;
        EXPECT_STREQ(OutcomeWords(outcome.Kind), c.words) << c.what;
    }
}

// Only an extractor that ended with 0 or 1 (a warning) lets the installation
// go on; a wait that failed never saw it end.
TEST(InstallOutcome, TheExtractionDecidesWhetherTheInstallationGoesOn) {
    const struct {
        ChildResult extractor;
        unsigned long exitCode;
    } cases[] = {
        {{ChildEnded, 0, 0}, 0},      {{ChildEnded, 1, 0}, 0},          {{ChildEnded, 2, 0}, 1603},
        {{ChildEnded, 50, 0}, 1603},  {{ChildEnded, 259, 0}, 1603},     {{ChildStillRunning, 259, 258}, 1460},
        {{ChildNotStarted, 2, 0}, 2}, {{ChildNotStarted, 206, 0}, 206},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractionExitCode(c.extractor), c.exitCode)
            << c.extractor.State << " " << c.extractor.Code;
    }
    EXPECT_EQ(StateAfterWait(0), ChildEnded);
    EXPECT_EQ(StateAfterWait(258), ChildStillRunning);         // WAIT_TIMEOUT
    EXPECT_EQ(StateAfterWait(0xFFFFFFFF), ChildStillRunning);  // WAIT_FAILED
    EXPECT_STREQ(OutcomeWords(ExtractionFailed), "extraction failed");
    EXPECT_STREQ(OutcomeWords(NoWorkingDirectory), "no working directory");
    EXPECT_STREQ(OutcomeWords(OutputHoldsPackage), "output directory holds the package");
    EXPECT_STREQ(OutcomeWords(SystemRefused), "not supported");
    EXPECT_STREQ(OutcomeWords(UsageShown), "usage shown");

    char text[64];
    EXPECT_EQ(DescribeChild({ChildEnded, 3010, 0}, 1000, text, sizeof text), 1);
    EXPECT_STREQ(text, "exit code 3010");
    EXPECT_EQ(DescribeChild({ChildNotStarted, 2, 0}, 1000, text, sizeof text), 1);
    EXPECT_STREQ(text, "could not be started (error 2)");
    EXPECT_EQ(DescribeChild({ChildStillRunning, 259, 258}, 360000, text, sizeof text), 1);
    EXPECT_STREQ(text, "still running at the limit of 360 seconds");
    EXPECT_EQ(DescribeChild({ChildEnded, 259, 0}, 1000, text, sizeof text), 1);
    EXPECT_STREQ(text, "exit code 259, reported as 1603");
    EXPECT_EQ(DescribeChild({ChildEnded, 3010, 0}, 1000, text, 14), 0);
}

TEST(LogText, NameAndLinesWithZerosAndWithinTheirBuffers) {
    const LogTime time = {2026, 3, 3, 4, 5, 6, 7, 8};  // a Wednesday
    char text[128];
    EXPECT_EQ(ComposeLogName("C:\\T\\", time, 4242, text, sizeof text), 1);
    EXPECT_STREQ(text, "C:\\T\\QUILLER-20260304-050607-4242.log");
    // Just too small: never a cut name.
    EXPECT_EQ(ComposeLogName("C:\\T\\", time, 4242, text, 37), 0);

    EXPECT_EQ(ComposeLogLine(time, "Running app", "C:\\a\nC:\\b", text, sizeof text), 1);
    EXPECT_STREQ(text, "2026-03-04 05:06:07.008 Running app: C:\\a\tC:\\b");
    EXPECT_EQ(ComposeLogLine(time, "T", "abc", text, 30), 0);
    EXPECT_EQ(std::string(text), "2026-03-04 05:06:07.008 T: ab");
}

// The table pack prints every agent's return codes from: each code the
// launcher ends with under exitcode.tag is in it, with the kind the launcher's
// own judgement gives it, and nothing else is.
TEST(InstallOutcome, TheExitCodeTableHoldsEveryCodeTheLauncherEndsWithAndItsKind) {
    const ChildResult notRun = {ChildNotRun, 0, 0};
    const auto ended = [](unsigned long code) { return ChildResult{ChildEnded, code, 0}; };
    const ChildResult running = {ChildStillRunning, 259, 258};
    const ChildResult tooLong = {ChildNotStarted, 206, 0};  // the command line did not fit
    // The launcher's own codes; the usage box's is the entry flow's.
    std::vector<unsigned long> own = {ExitRefusedSystem, ExitNoWorkingDirectory, ExitStillRunning,
                                      ExitExtractionFailed, ExitUsageShown};
    for (const ChildResult& extractor : {ended(2), ended(255), ended(259), running, tooLong}) {
        own.push_back(ExtractionExitCode(extractor));
    }
    for (const ChildResult& installer : {running, ended(259), tooLong}) {
        own.push_back(InstallOutcome(installer, notRun).Code);
    }
    own.push_back(InstallOutcome(ended(0), running).Code);
    for (unsigned long code : own) {
        const ExitCodeRow* row = FindExitCode(OutcomeExitCodes, OutcomeExitCodeCount, code);
        ASSERT_NE(row, nullptr) << code;
        EXPECT_EQ(row->Kind, CodeFailure) << code;
    }
    // The installer's own codes: a success kind exactly where the launcher
    // counts the code as installed.
    for (unsigned long code = 0; code < 70000; ++code) {
        const ExitCodeRow* row = FindExitCode(OutcomeExitCodes, OutcomeExitCodeCount, code);
        const OutcomeKind kind = InstallOutcome(ended(code), notRun).Kind;
        if (kind == Installed || kind == RestartRequired) {
            ASSERT_NE(row, nullptr) << code;
            EXPECT_NE(row->Kind, CodeFailure) << code;
        } else if (row != nullptr) {
            EXPECT_EQ(row->Kind, CodeFailure) << code;
        }
    }
    for (size_t i = 0; i < OutcomeExitCodeCount; ++i) {
        const ExitCodeRow& row = OutcomeExitCodes[i];
        EXPECT_TRUE(row.Kind != CodeFailure || std::find(own.begin(), own.end(), row.Code) != own.end())
            << row.Code << ": the launcher never ends with it";
    }
    EXPECT_EQ(FindExitCode(OutcomeExitCodes, OutcomeExitCodeCount, 0)->Kind, CodeSuccess);
    EXPECT_EQ(FindExitCode(OutcomeExitCodes, OutcomeExitCodeCount, 3010)->Kind, CodeSoftReboot);
    EXPECT_EQ(FindExitCode(OutcomeExitCodes, OutcomeExitCodeCount, 1641)->Kind, CodeHardReboot);
    // Without the tag: 1 once the sequence ran, 0 after a refusal or the usage box.
    ASSERT_EQ(PlainExitCodeCount, 2u);
    EXPECT_EQ(FindExitCode(PlainExitCodes, PlainExitCodeCount, 1)->Kind, CodeSuccess);
    EXPECT_EQ(FindExitCode(PlainExitCodes, PlainExitCodeCount, 0)->Kind, CodeFailure);
}
