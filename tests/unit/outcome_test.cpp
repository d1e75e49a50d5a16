// The exit code a deployment tool reads, and the log's name and lines.
#include <gtest/gtest.h>

#include <string>

#include "common/log_text.h"
#include "install/outcome.h"

TEST(InstallExitCode, TheInstallersCodeUnlessItSucceededAndTheScriptFailed) {
    const ChildResult notRun = {ChildNotRun, 0, 0};
    const auto ended = [](unsigned long code) { return ChildResult{ChildEnded, code, 0}; };
    const ChildResult running = {ChildStillRunning, 259, 258};
    const ChildResult missing = {ChildNotStarted, 2, 0};
    const struct {
        const char* what;
        ChildResult installer;
        ChildResult postProcess;
        unsigned long exitCode;
    } cases[] = {
        {"installer ended", ended(0), notRun, 0},
        {"restart to come", ended(3010), notRun, 3010},
        {"restart begun", ended(1641), notRun, 1641},
        {"installer failed", ended(7), notRun, 7},
        {"script succeeded", ended(3010), ended(0), 3010},
        {"script failed after success", ended(0), ended(5), 5},
        {"script failed after 3010", ended(3010), ended(5), 5},
        {"script failed after 1641", ended(1641), ended(5), 5},
        {"both failed", ended(7), ended(5), 7},
        {"script not started after success", ended(0), missing, 2},
        {"installer missing", missing, ended(0), 2},
        {"installer missing, script failed", missing, ended(5), 2},
        {"installer still running", running, notRun, 1460},
        {"script still running", ended(0), running, 1460},
        {"script still running after a failure", ended(7), running, 1460},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallExitCode(c.installer, c.postProcess), c.exitCode) << c.what;
    }
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
