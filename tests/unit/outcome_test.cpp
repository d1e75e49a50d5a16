// The exit code a deployment tool reads, and the log's name and lines.
#include <gtest/gtest.h>

#include <string>

#include "common/log_text.h"
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
        {"restart to come", ended(3010), notRun, 3010, "installed"},
        {"restart begun", ended(1641), notRun, 1641, "installed"},
        {"installer failed", ended(7), notRun, 7, "installer failed"},
        {"script succeeded", ended(3010), ended(0), 3010, "installed"},
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
        {"installer reports 259", stillActive, notRun, 1460, "still running"},
        {"script reports 259", ended(0), stillActive, 1460, "still running"},
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
        {{ChildEnded, 50, 0}, 1603},  {{ChildEnded, 259, 0}, 1460},     {{ChildStillRunning, 259, 258}, 1460},
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

    char text[64];
    EXPECT_EQ(DescribeChild({ChildEnded, 3010, 0}, 1000, text, sizeof text), 1);
    EXPECT_STREQ(text, "exit code 3010");
    EXPECT_EQ(DescribeChild({ChildNotStarted, 2, 0}, 1000, text, sizeof text), 1);
    EXPECT_STREQ(text, "could not be started (error 2)");
    EXPECT_EQ(DescribeChild({ChildStillRunning, 259, 258}, 360000, text, sizeof text), 1);
    EXPECT_STREQ(text, "still running at the limit of 360 seconds");
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
