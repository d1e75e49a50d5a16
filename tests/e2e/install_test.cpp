// The whole installation under Wine: the real setup.exe and unzip.exe, archives
// holding a recording installer as SETUP.EXE, and real PostProcess.cmd scripts.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

const char kProductTitle[] = "Velmora Quillet Check 1.9";
const char kNoticeText[] = "Copying Files. Please wait.";

std::vector<std::string> LogsIn(const std::string& dir);

// A package, its private temporary directory and the log its programs write.
struct Package {
    std::string dir;
    std::string temp;
    std::string log;
    std::string quiller;  // the temporary working directory
};

// Package <name>: setup.exe accepting every Windows version plus extraTags in
// its tail, unzip.exe, and archive as package.zip; the temporary directory
// <name>-temp. Empty dir on failure.
Package MakePackage(const std::string& name, const std::string& archive,
                    const std::vector<std::string>& extraTags = {}) {
    std::vector<std::string> tags = {"nt4.tag", "w2k.tag", "wxp.tag", "x64.tag", "s23.tag", "vst.tag"};
    tags.insert(tags.end(), extraTags.begin(), extraTags.end());
    Package package;
    package.temp = MakeScratchDirectory(name + "-temp");
    package.dir = MakePackageDirectory(name, tags);
    if (package.temp.empty() || package.dir.empty() ||
        !CopyFileTo(TestProgramDirectory() + "\\" + archive, package.dir + "\\package.zip")) {
        package.dir.clear();
    }
    package.log = package.dir + "\\installer.log";
    package.quiller = package.temp + "\\QUILLER";
    return package;
}

RunOptions SetupRun(const Package& package, const std::string& args, const std::string& mode = "") {
    RunOptions options;
    options.exe = package.dir + "\\setup.exe";
    options.args = args;
    options.env = {{"TEMP", package.temp},
                   {"TMP", package.temp},
                   {"SETUP_TEST_LOG", package.log},
                   {"SETUP_TEST_MODE", mode}};
    return options;
}

std::vector<std::string> LogLines(const std::string& path) {
    return SplitLines(ReadTextFile(path));
}

// What the recording installer logs when started with commandLine in dir.
std::vector<std::string> InstallerRan(const std::string& commandLine, const std::string& dir) {
    return {"installer: " + commandLine, "cwd: " + dir, "payload: present", "notice: closed"};
}

// The boxes of a run, for failure messages.
std::string Describe(const RunResult& result) {
    std::string text;
    for (const BoxRecord& box : result.boxes) {
        text += "[" + box.title + "] [" + box.text + "]" + (box.closedByProgram ? " closed by program" : "") +
                (box.openAtExit ? " open at exit" : "") + "\n";
    }
    return text;
}

std::vector<std::string> Concat(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The command lines of a debug run's "Running app" boxes, in order.
std::vector<std::string> ProgramsStarted(const RunResult& result) {
    std::vector<std::string> commandLines;
    for (const BoxRecord& box : result.boxes) {
        if (box.title == "Running app") {
            commandLines.push_back(box.text);
        }
    }
    return commandLines;
}

}  // namespace

TEST(InstallPackage, InteractiveRunClosesItsNoticeAndRemovesTheTemporaryDirectory) {
    // A small archive: extraction may end before the box would be up, and the
    // box must still be closed, not left over the installer.
    Package package = MakePackage("interactive", "installer.zip");
    ASSERT_FALSE(package.dir.empty());
    const std::string spacedOut = "C:\\setup-tests\\spaced-out";
    RemoveDirectoryA(spacedOut.c_str());

    // A space after -d leaves the option empty: the temporary directory is used.
    RunOptions options = SetupRun(package, "-d " + spacedOut, "readonly");
    options.leaveOpen = {kProductTitle};
    RunResult result = RunAndRecord(options);

    ASSERT_EQ(result.startError, 0UL);
    EXPECT_EQ(result.exitCode, 1UL);
    ASSERT_EQ(result.boxes.size(), 1U) << Describe(result);
    EXPECT_EQ(FindBox(result, kProductTitle, kNoticeText), 0);
    EXPECT_TRUE(result.boxes[0].closedByProgram);
    EXPECT_EQ(LogLines(package.log), InstallerRan(package.quiller + "\\SETUP.EXE", package.quiller));
    // Read-only files the installer left behind go too.
    EXPECT_FALSE(PathExists(package.quiller));
    EXPECT_TRUE(PathExists(package.temp));
    EXPECT_FALSE(PathExists(spacedOut));
}

TEST(InstallPackage, SilentRunsPassTheUnattendedSwitchesAndShowNothing) {
    const struct {
        const char* name;
        std::vector<std::string> tailTags;
        bool msiFile;
        const char* switches;
    } cases[] = {
        {"silent", {}, false, " -s -SMS"},
        {"silent-msi-tail", {"msi.tag"}, false, " /qn REBOOT=ReallySuppress"},
        {"silent-msi-file", {}, true, " /qn REBOOT=ReallySuppress"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Package package = MakePackage(c.name, "installer.zip", c.tailTags);
        ASSERT_FALSE(package.dir.empty());
        if (c.msiFile) {
            ASSERT_TRUE(WriteTextFile(package.dir + "\\msi.tag", ""));
        }
        RunResult result = RunAndRecord(SetupRun(package, "-s"));
        EXPECT_EQ(result.exitCode, 1UL);
        EXPECT_TRUE(result.boxes.empty());
        EXPECT_EQ(LogLines(package.log),
                  InstallerRan(package.quiller + "\\SETUP.EXE" + c.switches, package.quiller));
        EXPECT_FALSE(PathExists(package.quiller));
    }
}

// A D option names a directory that keeps the files; one left over from an
// earlier run is reused, its files overwritten and its PostProcess.cmd run.
TEST(InstallPackage, DestinationOptionDirectoriesKeepTheirFiles) {
    Package fresh = MakePackage("destination-relative", "postprocess.zip");
    ASSERT_FALSE(fresh.dir.empty());
    const std::string relative = MakeScratchDirectory("pkgout");
    ASSERT_TRUE(RemoveDirectoryA(relative.c_str()));
    // Without a colon the value is taken below C:\.
    RunResult first = RunAndRecord(SetupRun(fresh, "-dsetup-tests\\pkgout -s"));
    EXPECT_EQ(first.exitCode, 1UL);
    EXPECT_EQ(LogLines(fresh.log),
              Concat(InstallerRan(relative + "\\SETUP.EXE -s -SMS", relative), {"postprocess: " + relative}));
    EXPECT_EQ(ReadTextFile(relative + "\\data\\nested.txt"), "nested payload\r\n");
    EXPECT_TRUE(PathExists(relative + "\\PostProcess.cmd"));
    EXPECT_FALSE(PathExists(fresh.quiller));

    Package leftover = MakePackage("destination-colon", "installer.zip");
    ASSERT_FALSE(leftover.dir.empty());
    const std::string colon = MakeScratchDirectory("colon-out");
    ASSERT_TRUE(WriteTextFile(colon + "\\payload.txt", "from an earlier run"));
    ASSERT_TRUE(WriteTextFile(colon + "\\kept.txt", "kept"));
    ASSERT_TRUE(WriteTextFile(colon + "\\PostProcess.cmd",
                              "@echo earlier postprocess: %CD%>>\"%SETUP_TEST_LOG%\"\r\n"));
    // With a colon the value is used as it stands.
    RunResult second = RunAndRecord(SetupRun(leftover, "-d" + colon + " -s"));
    EXPECT_EQ(second.exitCode, 1UL);
    EXPECT_EQ(LogLines(leftover.log),
              Concat(InstallerRan(colon + "\\SETUP.EXE -s -SMS", colon), {"earlier postprocess: " + colon}));
    EXPECT_EQ(ReadTextFile(colon + "\\payload.txt"), "payload from the package\r\n");
    EXPECT_EQ(ReadTextFile(colon + "\\kept.txt"), "kept");
    EXPECT_TRUE(PathExists(colon + "\\SETUP.EXE"));
}

// An existing D directory is reused whatever its spelling: written with a
// trailing backslash (as a shell completes a folder's name), by the second
// run into it, silent and interactive, with and without "exitcode.tag".
TEST(InstallPackage, ExistingOutputDirectoryWithATrailingBackslashIsReused) {
    Package package = MakePackage("reuse-backslash", "installer.zip");
    ASSERT_FALSE(package.dir.empty());
    const std::string out = MakeScratchDirectory("reuse-backslash-out");
    ASSERT_TRUE(RemoveDirectoryA(out.c_str()));
    const struct {
        const char* args;
        bool tagged;
    } runs[] = {{"-s", false}, {"-s", true}, {"", false}, {"", true}};
    for (const auto& run : runs) {
        SCOPED_TRACE(std::string(run.args) + (run.tagged ? " exitcode.tag" : ""));
        if (run.tagged) {
            ASSERT_TRUE(WriteTextFile(package.dir + "\\exitcode.tag", ""));
        } else {
            DeleteFileA((package.dir + "\\exitcode.tag").c_str());
        }
        ASSERT_TRUE(WriteTextFile(package.log, ""));
        RunResult result = RunAndRecord(SetupRun(package, std::string(run.args) + " -d" + out + "\\"));
        EXPECT_EQ(result.exitCode, run.tagged ? 0UL : 1UL) << Describe(result);
        const std::vector<std::string> lines = LogLines(package.log);
        ASSERT_GE(lines.size(), 3U);
        EXPECT_EQ(lines[1], "cwd: " + out);
        EXPECT_EQ(lines[2], "payload: present");
    }
    EXPECT_FALSE(PathExists(package.quiller));
}

// PostProcess.cmd runs after the installer, in the working directory, however
// the installer fared; once the package is extracted nothing stops the
// sequence, and the exit code is 1.
// Silent, nothing shows; in debug mode a box names each program started, the
// script only when there is one.
TEST(InstallPackage, PostProcessAndFailuresThatDoNotStopTheSequence) {
    const struct {
        const char* name;
        const char* archive;
        const char* mode;
        bool installerRuns;
        const char* postProcess;  // the script's log line up to the directory, or nullptr
        bool debug;
    } cases[] = {
        {"postprocess-left", "installer.zip", "leave-postprocess", true,
         "postprocess left by installer: ", true},
        {"installer-fails", "postprocess.zip", "fail", true, "postprocess: ", false},
        {"no-installer", "nosetup.zip", "", false, "postprocess: ", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Package package = MakePackage(c.name, c.archive);
        ASSERT_FALSE(package.dir.empty());
        RunOptions options = SetupRun(package, "-s", c.mode);
        if (c.debug) {
            ASSERT_TRUE(WriteTextFile(package.dir + "\\debug.tag", ""));
            options.currentDir = package.dir;
        }
        RunResult result = RunAndRecord(options);
        EXPECT_EQ(result.exitCode, 1UL);
        std::vector<std::string> expected;
        std::vector<std::string> started = {package.quiller + "\\SETUP.EXE -s -SMS"};
        if (c.installerRuns) {
            expected = InstallerRan(started[0], package.quiller);
        }
        if (c.postProcess != nullptr) {
            expected.push_back(c.postProcess + package.quiller);
            started.push_back(package.quiller + "\\PostProcess.cmd");
        }
        EXPECT_EQ(LogLines(package.log), expected);
        if (c.debug) {
            EXPECT_EQ(ProgramsStarted(result), started) << Describe(result);
            // A complete removal is no news: only the log has it.
            EXPECT_EQ(FindBox(result, "Velmora Quillet", "Removed: " + package.quiller), -1)
                << Describe(result);
        } else {
            EXPECT_TRUE(result.boxes.empty()) << Describe(result);
        }
        EXPECT_FALSE(PathExists(package.quiller));
    }
}

// Unquoted, such paths would start C:\setup-tests\pkg.exe or split the
// extractor's destination; quoted, the installation goes through.
TEST(InstallPackage, SpacesInPackageAndTemporaryDirectories) {
    Package package = MakePackage("pkg with space", "postprocess.zip");
    ASSERT_FALSE(package.dir.empty());
    package.temp = MakeScratchDirectory("temp with space");
    package.quiller = package.temp + "\\QUILLER";
    ASSERT_TRUE(WriteTextFile(package.dir + "\\debug.tag", ""));
    RunOptions options = SetupRun(package, "-s");
    options.currentDir = package.dir;  // debug mode shows the extractor's command line
    RunResult result = RunAndRecord(options);

    EXPECT_EQ(result.exitCode, 1UL);
    EXPECT_GE(FindBox(result, "Velmora Quillet: Zip CommandLine",
                      "\"" + package.dir + "\\unzip.exe\" -o \"" + package.dir + "\\package.zip\" -d \"" +
                          package.quiller + "\""),
              0);
    EXPECT_EQ(LogLines(package.log),
              Concat(InstallerRan("\"" + package.quiller + "\\SETUP.EXE\" -s -SMS", package.quiller),
                     {"postprocess: " + package.quiller}));
    EXPECT_FALSE(PathExists(package.quiller));
}

// The installer's primary thread ends while another of its threads holds a
// file open: that file and the directories above it stay, the rest goes.
// Where no job can be had, an installer whose primary thread has ended is
// waited for only a moment more, and a file it still holds stays. The log
// names what stayed, and how much.
TEST(InstallPackage, FileHeldOpenByALingeringInstallerStays) {
    Package package = MakePackage("lingering", "installer.zip");
    ASSERT_FALSE(package.dir.empty());
    ASSERT_TRUE(CopyFileTo(TestProgramDirectory() + "\\setup_limits.exe", package.dir + "\\setup.exe"));
    for (const char* tag : {"nt4.tag", "w2k.tag", "wxp.tag", "x64.tag", "s23.tag", "vst.tag", "log.tag"}) {
        ASSERT_TRUE(WriteTextFile(package.dir + "\\" + tag, ""));
    }
    // A lingering installer is waited for only a moment, not for its full
    // limit (over half an hour): past the harness's two minutes setup.exe
    // would be killed.
    RunOptions options = SetupRun(package, "-s", "linger");
    options.env.push_back({"SETUP_TEST_NO_JOBS", "1"});
    // The installer is let go however the test ends: held for its full
    // minute after a failed assertion, its file kept the next run of this
    // test from making its package folder.
    struct Release {
        std::string path;
        ~Release() { (void)WriteTextFile(path, ""); }
    } release{package.log + ".release"};
    RunResult result = RunAndRecord(options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1UL);
    std::vector<std::string> logs = LogsIn(package.temp);
    ASSERT_EQ(logs.size(), 1U);
    const std::string log = ReadTextFile(package.temp + "\\" + logs[0]);
    // The held file, its two directories, the running SETUP.EXE and the
    // working directory itself; the first named is one of the two files.
    const std::string line = " Velmora Quillet: Not removed: " + package.quiller + "\\";
    const size_t at = log.find(line);
    ASSERT_NE(at, std::string::npos) << log;
    const std::string rest = log.substr(at + line.size(), log.find("\r\n", at) - at - line.size());
    EXPECT_TRUE(rest == "data\\held\\held.txt and 4 more" || rest == "SETUP.EXE and 4 more") << rest;
    EXPECT_TRUE(PathExists(package.quiller + "\\data\\held\\held.txt"));
    EXPECT_FALSE(PathExists(package.quiller + "\\data\\nested.txt"));
    EXPECT_FALSE(PathExists(package.quiller + "\\payload.txt"));

    // Let the installer go, and wait until it has.
    ASSERT_TRUE(WriteTextFile(package.log + ".release", ""));
    std::vector<std::string> lines;
    for (int i = 0; i < 300; ++i) {
        lines = LogLines(package.log);
        if (!lines.empty() && lines.back() == "released") {
            break;
        }
        Sleep(100);
    }
    EXPECT_EQ(lines, Concat(InstallerRan(package.quiller + "\\SETUP.EXE -s -SMS", package.quiller),
                            {"holding", "released"}));
}

// "C:\" and a 257-character value need 261 bytes, and a temporary directory
// of 300 characters cannot be read at all: no working directory is made (not
// even one relative to the package directory), nothing is extracted or run,
// and debug mode says why.
TEST(InstallPackage, WorkingDirectoryTooLongOrUnknownIsNeverUsed) {
    for (bool unknownTemp : {false, true}) {
        SCOPED_TRACE(unknownTemp ? "TEMP of 300" : "D of 257");
        Package package = MakePackage("too-long", "installer.zip");
        ASSERT_FALSE(package.dir.empty());
        ASSERT_TRUE(WriteTextFile(package.dir + "\\debug.tag", ""));
        if (unknownTemp) {
            package.temp += "\\" + std::string(300 - package.temp.size() - 1, 't');
        }
        // 259 characters: the whole argument string fits the launcher's copy.
        RunOptions options = SetupRun(package, unknownTemp ? "-s" : "-d" + std::string(257, 'x'));
        options.currentDir = package.dir;
        RunResult result = RunAndRecord(options);

        EXPECT_EQ(result.exitCode, 1UL);
        EXPECT_GE(FindBox(result, "Velmora Quillet",
                          "Working directory path too long or unknown; nothing installed."),
                  0)
            << Describe(result);
        for (const BoxRecord& box : result.boxes) {
            EXPECT_NE(box.title, "Velmora Quillet: Working Directory");
            EXPECT_NE(box.title, "Velmora Quillet: Zip CommandLine");
            EXPECT_NE(box.title, "Running app");
        }
        EXPECT_EQ(ReadTextFile(package.log), "");
        EXPECT_FALSE(PathExists("C:\\" + std::string(256, 'x')));
    }
}

namespace {

// The working directory the recording installer ran in, from its log.
std::string InstallerDirectory(const std::string& log) {
    for (const std::string& line : LogLines(log)) {
        if (line.rfind("cwd: ", 0) == 0) {
            return line.substr(5);
        }
    }
    return "";
}

// The names in dir, "." and ".." left out, in the order listed.
std::vector<std::string> EntriesOf(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        } while (FindNextFileA(listing, &entry));
        FindClose(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsNewWorkingDirectory(const std::string& dir, const std::string& temp) {
    const std::string prefix = temp + "\\QUILLER-";
    return dir.size() == prefix.size() + 8 && dir.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

// Anyone who may write to the temporary directory may make QUILLER before
// the run. What he left there is never run, entered, changed or removed; the
// package installs in a new directory of the run's own, removed afterwards.
TEST(InstallPackage, NeverUsesAQuillerThatExistsAlready) {
    const std::string planted[][2] = {
        {"PostProcess.cmd", "@echo planted postprocess>>\"%SETUP_TEST_LOG%\"\r\n"},
        {"version.dll", "a library the installer would load"},
        {"canary.txt", "canary"},
    };
    for (bool asDirectory : {true, false}) {
        SCOPED_TRACE(asDirectory ? "QUILLER a directory" : "QUILLER a file");
        Package package = MakePackage(asDirectory ? "quiller-taken" : "quiller-file", "installer.zip");
        ASSERT_FALSE(package.dir.empty());
        if (asDirectory) {
            ASSERT_TRUE(CreateDirectoryA(package.quiller.c_str(), nullptr));
            for (const auto& file : planted) {
                ASSERT_TRUE(WriteTextFile(package.quiller + "\\" + file[0], file[1]));
            }
            // A planted SETUP.EXE that would run: the recording installer.
            ASSERT_TRUE(CopyFileTo(TestProgramDirectory() + "\\record_installer.exe",
                                   package.quiller + "\\SETUP.EXE"));
        } else {
            ASSERT_TRUE(WriteTextFile(package.quiller, "canary"));
        }
        const std::string plantedSetup = ReadTextFile(package.quiller + "\\SETUP.EXE");

        RunResult result = RunAndRecord(SetupRun(package, "-s"));
        EXPECT_EQ(result.exitCode, 1UL);
        const std::string dir = InstallerDirectory(package.log);
        EXPECT_TRUE(IsNewWorkingDirectory(dir, package.temp)) << dir;
        EXPECT_EQ(LogLines(package.log), InstallerRan(dir + "\\SETUP.EXE -s -SMS", dir));
        EXPECT_FALSE(PathExists(dir));
        if (asDirectory) {
            for (const auto& file : planted) {
                EXPECT_EQ(ReadTextFile(package.quiller + "\\" + file[0]), file[1]) << file[0];
            }
            EXPECT_EQ(ReadTextFile(package.quiller + "\\SETUP.EXE"), plantedSetup);
        } else {
            EXPECT_EQ(ReadTextFile(package.quiller), "canary");
        }
    }
}

// A package whose PostProcess.cmd installs a second package: the second run
// works in a directory of its own, so the first one's files stay in place
// while its script still runs, and neither script runs for the other.
TEST(InstallPackage, PostProcessThatInstallsASecondPackage) {
    Package first = MakePackage("chain-first", "chain.zip");
    Package second = MakePackage("chain-second", "installer.zip");
    ASSERT_FALSE(first.dir.empty());
    ASSERT_FALSE(second.dir.empty());
    RunOptions options = SetupRun(first, "-s");
    options.env.push_back({"SETUP_TEST_SECOND", second.dir});
    RunResult result = RunAndRecord(options);

    EXPECT_EQ(result.exitCode, 1UL);
    std::vector<std::string> lines = LogLines(first.log);
    ASSERT_GE(lines.size(), 7U);
    const std::string secondDir = lines[6].substr(5);
    EXPECT_TRUE(IsNewWorkingDirectory(secondDir, first.temp)) << secondDir;
    EXPECT_EQ(lines, Concat(Concat(InstallerRan(first.quiller + "\\SETUP.EXE -s -SMS", first.quiller),
                                   {"chain first: " + first.quiller}),
                            Concat(InstallerRan(secondDir + "\\SETUP.EXE -s -SMS", secondDir),
                                   {"chain first still complete"})));
    EXPECT_FALSE(PathExists(first.quiller));
    EXPECT_FALSE(PathExists(secondDir));
}

// The installer leaves names the ANSI code page cannot spell, fullwidth
// solidi that the ANSI functions spell "..\victim.txt" and
// "x\..\..\keepdir", and a path past MAX_PATH: all of it goes, and nothing
// outside the working directory is touched.
TEST(InstallPackage, RemovesEveryNameAndNothingOutside) {
    Package package = MakePackage("hard-names", "installer.zip");
    ASSERT_FALSE(package.dir.empty());
    ASSERT_TRUE(WriteTextFile(package.temp + "\\victim.txt", "canary"));
    ASSERT_TRUE(CreateDirectoryA((package.temp + "\\keepdir").c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(package.temp + "\\keepdir\\canary.txt", "canary"));

    RunResult result = RunAndRecord(SetupRun(package, "-s", "names"));
    EXPECT_EQ(result.exitCode, 1UL);
    EXPECT_EQ(LogLines(package.log), InstallerRan(package.quiller + "\\SETUP.EXE -s -SMS", package.quiller));
    EXPECT_EQ(ReadTextFile(package.temp + "\\victim.txt"), "canary");
    EXPECT_EQ(ReadTextFile(package.temp + "\\keepdir\\canary.txt"), "canary");
    EXPECT_EQ(EntriesOf(package.temp), (std::vector<std::string>{"keepdir", "victim.txt"}));
}

namespace {

// Deployment agents start setup.exe as a service does, on a window station
// no one sees; Wine makes this one so too.
const char kHiddenStation[] = "setup-tests-hidden";

// The logs in dir, by name.
std::vector<std::string> LogsIn(const std::string& dir) {
    std::vector<std::string> logs;
    for (const std::string& name : EntriesOf(dir)) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) {
            logs.push_back(name);
        }
    }
    return logs;
}

}  // namespace

// A refusal, or a debug box, where no one can see it would wait for ever;
// the run ends by itself instead, with its usual exit code or, with
// "exitcode.tag", the one that says the system is not supported.
TEST(Unattended, NoBoxWaitsOnAWindowStationNoOneSees) {
    for (bool exitCodeTag : {false, true}) {
        SCOPED_TRACE(exitCodeTag ? "exitcode.tag" : "no tag");
        const std::string dir = MakePackageDirectory(exitCodeTag ? "refused-tag" : "refused", {});
        ASSERT_FALSE(dir.empty());
        if (exitCodeTag) {
            ASSERT_TRUE(WriteTextFile(dir + "\\exitcode.tag", ""));
        }
        RunOptions options;
        options.exe = dir + "\\setup.exe";
        options.args = "-s";
        options.windowStation = kHiddenStation;
        options.timeoutMs = 30000;
        RunResult result = RunAndRecord(options);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, exitCodeTag ? 1633UL : 0UL);
    }

    // Debug mode: every box it would show is in the log instead.
    Package package = MakePackage("hidden-debug-Jos\xE9", "postprocess.zip");
    ASSERT_FALSE(package.dir.empty());
    for (const char* tag : {"debug.tag", "log.tag"}) {
        ASSERT_TRUE(WriteTextFile(package.dir + "\\" + tag, ""));
    }
    RunOptions options = SetupRun(package, "-s");
    options.currentDir = package.dir;
    options.windowStation = kHiddenStation;
    options.timeoutMs = 60000;
    RunResult result = RunAndRecord(options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1UL);
    EXPECT_EQ(LogLines(package.log),
              Concat(InstallerRan(package.quiller + "\\SETUP.EXE -s -SMS", package.quiller),
                     {"postprocess: " + package.quiller}));

    std::vector<std::string> logs = LogsIn(package.temp);
    ASSERT_EQ(logs.size(), 1U);
    // QUILLER-YYYYMMDD-HHMMSS-PID.log
    const std::string& name = logs[0];
    EXPECT_EQ(name.compare(0, 8, "QUILLER-"), 0) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789", 8), 16U) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789", 17), 23U) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789", 24), name.size() - 4) << name;
    std::vector<std::string> lines = SplitLines(ReadTextFile(package.temp + "\\" + logs[0]));
    // Each line: "YYYY-MM-DD HH:MM:SS.mmm title: text", in UTF-8.
    std::vector<std::string> events;
    for (const std::string& line : lines) {
        ASSERT_GT(line.size(), 24U) << line;
        EXPECT_EQ(line[4], '-');
        EXPECT_EQ(line[10], ' ');
        EXPECT_EQ(line[19], '.');
        EXPECT_EQ(line[23], ' ');
        events.push_back(line.substr(24));
    }
    // The log is UTF-8; the paths here are in code page 1252, where only the
    // 'é' differs.
    const auto utf8 = [](std::string text) {
        for (size_t at; (at = text.find('\xE9')) != std::string::npos;) {
            text.replace(at, 1, "\xC3\xA9");
        }
        return text;
    };
    const std::string dirUtf8 = utf8(package.dir);
    const std::string quiller = utf8(package.quiller);
    const std::string expected[] = {
        "Velmora Quillet: Current: " + dirUtf8 + "\tRun: " + dirUtf8 + "\\",
        "Velmora Quillet: Working Directory: " + quiller,
        "Velmora Quillet: Zip CommandLine: " + dirUtf8 + "\\unzip.exe -o \"" + dirUtf8 +
            "\\package.zip\" -d " + quiller,
        "Running app: " + quiller + "\\SETUP.EXE -s -SMS",
        "Running app: " + quiller + "\\PostProcess.cmd",
        "Velmora Quillet: Removed: " + quiller,
        "Exit code: 1: installed",
    };
    for (const std::string& event : expected) {
        EXPECT_NE(std::find(events.begin(), events.end(), event), events.end()) << event;
    }
    EXPECT_EQ(events.back(), "Exit code: 1: installed");
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& event) { return event.rfind("Extraction", 0) == 0; }),
              0);
    // Each child's result; its exit code, read once its primary thread has
    // ended, may be 259 while the rest of it still runs.
    const std::string ended = quiller + "\\SETUP.EXE -s -SMS: exit code ";
    EXPECT_EQ(
        std::count_if(events.begin(), events.end(),
                      [&](const std::string& event) { return event.compare(0, ended.size(), ended) == 0; }),
        1);
}

// With "exitcode.tag" the exit code is the installer's, or the failing
// PostProcess.cmd's after an installer that succeeded; without it, 1.
TEST(Unattended, ExitCodeTagReportsTheOutcome) {
    const struct {
        const char* name;
        const char* archive;
        const char* mode;
        bool tag;
        unsigned long exitCode;
    } cases[] = {
        {"exit-0", "installer.zip", "exit=0", true, 0},
        {"exit-3010", "installer.zip", "exit=3010", true, 3010},
        {"exit-7", "installer.zip", "exit=7", true, 7},
        {"exit-7-untagged", "installer.zip", "exit=7", false, 1},
        {"postprocess-fails", "installer.zip", "failing-postprocess", true, 5},
        {"reboot-postprocess-fails", "installer.zip", "exit=1641 failing-postprocess", true, 5},
        // Both ask for a restart: the one begun outweighs the one to come.
        {"reboot-postprocess-restart", "installer.zip", "exit=1641 restart-postprocess", true, 1641},
        {"both-fail", "installer.zip", "exit=7 failing-postprocess", true, 7},
        // The primary thread ends first; the process's own code counts.
        {"late-exit", "installer.zip", "late-exit exit=9", true, 9},
        // What an agent reads as "still running": never passed on.
        {"still-active", "installer.zip", "exit=259", true, 1603},
        {"no-installer", "nosetup.zip", "", true, ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Package package = MakePackage(std::string("outcome-") + c.name, c.archive);
        ASSERT_FALSE(package.dir.empty());
        if (c.tag) {
            ASSERT_TRUE(WriteTextFile(package.dir + "\\exitcode.tag", ""));
        }
        RunResult result = RunAndRecord(SetupRun(package, "-s", c.mode));
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_FALSE(PathExists(package.quiller));
    }
}

namespace {

// One entry of an archive a test writes itself.
struct ZipEntry {
    std::string name;  // UTF-8
    std::string data;
    bool damaged = false;  // one byte of its data flipped after its CRC was taken
};

void Put(std::string& out, unsigned long value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// A zip archive of stored entries, names marked as UTF-8 (bit 11) as pack
// writes them.
std::string ZipArchive(const std::vector<ZipEntry>& entries) {
    typedef DWORD(WINAPI * Crc32)(DWORD, const BYTE*, INT);
    const Crc32 crc32 = reinterpret_cast<Crc32>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlComputeCrc32")));
    std::string archive;
    std::string directory;
    for (const ZipEntry& entry : entries) {
        const unsigned long crc =
            crc32(0, reinterpret_cast<const BYTE*>(entry.data.data()), static_cast<INT>(entry.data.size()));
        std::string data = entry.data;
        if (entry.damaged) {
            data[data.size() / 2] ^= 0x5A;
        }
        std::string common;  // from "version needed" to the name's length
        Put(common, 10, 2);
        Put(common, 0x0800, 2);  // UTF-8 names
        Put(common, 0, 2);       // stored
        Put(common, 0, 4);       // time and date
        Put(common, crc, 4);
        Put(common, data.size(), 4);
        Put(common, data.size(), 4);
        Put(common, entry.name.size(), 2);
        Put(common, 0, 2);  // no extra field
        const unsigned long offset = archive.size();
        Put(archive, 0x04034B50, 4);
        archive += common + entry.name + data;
        Put(directory, 0x02014B50, 4);
        Put(directory, 10, 2);  // made by
        directory += common;
        Put(directory, 0, 2);  // comment
        Put(directory, 0, 2);  // disk
        Put(directory, 0, 2);  // internal attributes
        Put(directory, 0, 4);  // external attributes
        Put(directory, offset, 4);
        directory += entry.name;
    }
    const unsigned long start = archive.size();
    archive += directory;
    Put(archive, 0x06054B50, 4);
    Put(archive, 0, 4);
    Put(archive, entries.size(), 2);
    Put(archive, entries.size(), 2);
    Put(archive, directory.size(), 4);
    Put(archive, start, 4);
    Put(archive, 0, 2);
    return archive;
}

const char kUnpackFailed[] = "The package could not be unpacked (";

// A line of the log that only the installer or the script would write.
bool InstallerOrScriptRan(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (line.find("SETUP.EXE") != std::string::npos || line.rfind("postprocess", 0) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

// The extraction decides: an archive with a damaged entry or with a name the
// code page cannot spell (before SETUP.EXE or after it), a missing unzip.exe
// or one that ends with 50 installs nothing. Neither SETUP.EXE nor
// PostProcess.cmd runs, the temporary working directory goes, and
// interactively one box says so. With "exitcode.tag" the exit code is the
// start error or 1603, else 1.
TEST(InstallPackage, FailedExtractionInstallsNothing) {
    const std::string installer = ReadTextFile(TestProgramDirectory() + "\\record_installer.exe");
    ASSERT_FALSE(installer.empty());
    const ZipEntry setup = {"SETUP.EXE", installer};
    const ZipEntry script = {"PostProcess.cmd", "@echo postprocess: %CD%>>\"%SETUP_TEST_LOG%\"\r\n"};
    const ZipEntry payload = {"payload.txt", "payload from the package\r\n"};
    const ZipEntry unspellable = {"\xD0\x82\xD0\xBE\xD1\x80\xD1\x92\xD0\xB5.txt",
                                  "Cyrillic\r\n"};  // Ђорђе.txt
    ZipEntry damaged = payload;
    damaged.damaged = true;
    const struct {
        const char* name;
        std::vector<ZipEntry> entries;  // empty: postprocess.zip
        const char* unzip;              // "missing", "exit=50" (a stand-in that ends so) or nullptr
        std::vector<const char*> ways;  // "-s" with and without the tag, "" interactively
        unsigned long tagged;           // the exit code with exitcode.tag
    } cases[] = {
        {"unpack-damaged", {setup, script, damaged}, nullptr, {"-s tag"}, 1603},
        {"unpack-name-first", {unspellable, setup, script, payload}, nullptr, {"-s tag"}, 1603},
        {"unpack-name-last", {setup, script, payload, unspellable}, nullptr, {"-s tag"}, 1603},
        {"unpack-no-unzip", {}, "missing", {"-s tag", "-s", ""}, ERROR_FILE_NOT_FOUND},
        {"unpack-unzip-50", {}, "exit=50", {"-s tag", "-s", ""}, 1603},
    };
    for (const auto& c : cases) {
        for (const std::string way : c.ways) {
            SCOPED_TRACE(std::string(c.name) + " " + way);
            Package package = MakePackage(c.name, "postprocess.zip");
            ASSERT_FALSE(package.dir.empty());
            if (!c.entries.empty()) {
                ASSERT_TRUE(WriteTextFile(package.dir + "\\package.zip", ZipArchive(c.entries)));
            }
            const std::string unzip = package.dir + "\\unzip.exe";
            if (c.unzip != nullptr) {
                ASSERT_TRUE(DeleteFileA(unzip.c_str()));
            }
            if (c.unzip != nullptr && std::string(c.unzip) != "missing") {
                ASSERT_TRUE(CopyFileTo(TestProgramDirectory() + "\\record_installer.exe", unzip));
            }
            const bool tagged = way == "-s tag";
            if (tagged) {
                ASSERT_TRUE(WriteTextFile(package.dir + "\\exitcode.tag", ""));
            }
            RunOptions options = SetupRun(package, way.substr(0, 2), c.unzip != nullptr ? c.unzip : "");
            RunResult result = RunAndRecord(options);

            EXPECT_EQ(result.exitCode, tagged ? c.tagged : 1UL);
            EXPECT_FALSE(InstallerOrScriptRan(LogLines(package.log))) << ReadTextFile(package.log);
            EXPECT_EQ(EntriesOf(package.temp), std::vector<std::string>());
            std::vector<std::string> shown;
            for (const BoxRecord& box : result.boxes) {
                if (box.text != kNoticeText) {
                    EXPECT_EQ(box.title, kProductTitle);
                    shown.push_back(box.text.substr(0, sizeof kUnpackFailed - 1));
                }
            }
            EXPECT_EQ(shown,
                      way.empty() ? std::vector<std::string>{kUnpackFailed} : std::vector<std::string>())
                << Describe(result);
        }
    }
}

// A D directory that is the package directory, in another spelling or
// through a link, or that holds it is never extracted into: the package's own
// setup.exe would be taken for SETUP.EXE. Nor is one below a missing parent.
// Nothing is extracted or run; with "exitcode.tag" the exit code is 82, and
// debug mode says why.
TEST(InstallPackage, OutputDirectoryThatHoldsThePackageOrCannotBeMade) {
    // An earlier run's link: the harness's removal leaves it.
    ASSERT_TRUE(RemoveWithLinks("own-link"));
    const std::string links = MakeScratchDirectory("own-link");
    ASSERT_FALSE(links.empty());
    const std::string outer = MakeScratchDirectory("own-outer");
    ASSERT_FALSE(outer.empty());
    Package package = MakePackage("own-outer-made", "postprocess.zip");
    ASSERT_FALSE(package.dir.empty());
    // The package one level down, so that its parent is a directory of this test's own.
    const std::string dir = outer + "\\Package Dir";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    ASSERT_TRUE(MakeLink(links, "\"../own-outer/Package Dir\"", "package"));
    for (const char* name : {"setup.exe", "unzip.exe", "package.zip"}) {
        ASSERT_TRUE(CopyFileTo(package.dir + "\\" + name, dir + "\\" + name));
    }
    ASSERT_TRUE(WriteTextFile(dir + "\\exitcode.tag", ""));
    char shortForm[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(dir.c_str(), shortForm, MAX_PATH), 0UL);
    std::string upper = dir + "\\";
    for (char& c : upper) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const std::string launch = MakeScratchDirectory("own-launch");
    ASSERT_TRUE(WriteTextFile(launch + "\\debug.tag", ""));
    const std::vector<std::string> before = EntriesOf(dir);

    const struct {
        std::string value;
        const char* why;
    } cases[] = {
        {upper, "Output directory holds the package; nothing installed."},
        {shortForm, "Output directory holds the package; nothing installed."},
        {outer, "Output directory holds the package; nothing installed."},
        {"\\\\?\\" + dir, "Output directory holds the package; nothing installed."},
        {links + "\\package", "Output directory holds the package; nothing installed."},
        {outer + "\\missing\\out", "Working directory cannot be made; nothing installed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        RunOptions options = SetupRun(package, "-s -d\"" + c.value + "\"");
        options.exe = dir + "\\setup.exe";
        options.currentDir = launch;
        RunResult result = RunAndRecord(options);
        EXPECT_EQ(result.exitCode, 82UL);
        EXPECT_GE(FindBox(result, "Velmora Quillet", c.why), 0) << Describe(result);
        for (const BoxRecord& box : result.boxes) {
            EXPECT_NE(box.title, "Velmora Quillet: Zip CommandLine");
            EXPECT_NE(box.title, "Running app");
        }
        EXPECT_EQ(EntriesOf(dir), before);
        EXPECT_EQ(EntriesOf(outer), std::vector<std::string>{"Package Dir"});
        EXPECT_EQ(ReadTextFile(package.log), "");
    }
    EXPECT_TRUE(RemoveWithLinks("own-link"));
}

namespace {

// The events of the one log in dir, each line without its time.
std::vector<std::string> LogEvents(const std::string& dir) {
    std::vector<std::string> events;
    std::vector<std::string> logs = LogsIn(dir);
    if (logs.size() == 1) {
        for (const std::string& line : SplitLines(ReadTextFile(dir + "\\" + logs[0]))) {
            events.push_back(line.size() > 24 ? line.substr(24) : line);
        }
    }
    return events;
}

bool HasEvent(const std::vector<std::string>& events, const std::string& event) {
    return std::find(events.begin(), events.end(), event) != events.end();
}

// The entries a round left in the temporary directory temp (scratch name
// name), which is then emptied for the next round.
std::vector<std::string> TakeLeftovers(const std::string& name, const std::string& temp) {
    std::vector<std::string> left = EntriesOf(temp);
    for (int i = 0; i < 100 && !left.empty() && MakeScratchDirectory(name).empty(); ++i) {
        Sleep(100);
    }
    return left;
}

// Between its creation and the installer's start, while the extractor runs
// from the package directory, the working directory is held: another
// process (the recording installer standing in for the extractor) cannot
// rename it and put one of its own in its place.
TEST(InstallPackage, NoOneRenamesTheWorkingDirectoryMeanwhile) {
    Package package = MakePackage("rename", "installer.zip");
    ASSERT_FALSE(package.dir.empty());
    ASSERT_TRUE(CopyFileTo(TestProgramDirectory() + "\\record_installer.exe", package.dir + "\\unzip.exe"));
    RunResult result = RunAndRecord(SetupRun(package, "-s", "rename"));
    EXPECT_EQ(result.exitCode, 1UL);
    std::vector<std::string> lines = LogLines(package.log);
    ASSERT_EQ(lines.size(), 5U);
    EXPECT_EQ(lines[0].compare(0, 11 + package.dir.size(), "installer: " + package.dir), 0) << lines[0];
    EXPECT_EQ(lines[4], "rename: refused");
    EXPECT_FALSE(PathExists(package.quiller));
    EXPECT_FALSE(PathExists(package.quiller + "-renamed"));
}

// Runs the runs together, rounds times, each run's temporary directory the
// scratch directory tempName; returns in how many rounds something was left
// there, and in firstLeft the first thing.
int RoundsWithLeftovers(std::vector<RunOptions>& runs, const std::string& tempName, int rounds,
                        std::string* firstLeft) {
    const std::string temp = MakeScratchDirectory(tempName);
    for (RunOptions& run : runs) {
        run.env[0].second = temp;
        run.env[1].second = temp;
    }
    int roundsWithLeftovers = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const RunResult& result : RunAllAndRecord(runs)) {
            EXPECT_EQ(result.exitCode, 1UL);
        }
        std::vector<std::string> left = TakeLeftovers(tempName, temp);
        if (!left.empty()) {
            ++roundsWithLeftovers;
            *firstLeft = firstLeft->empty() ? left[0] : *firstLeft;
        }
    }
    std::cout << "rounds with leftovers: " << roundsWithLeftovers << " of " << rounds << "\n";
    return roundsWithLeftovers;
}

}  // namespace

// "log.tag" as a file in the package directory counts when setup.exe is
// started from elsewhere, and the log says why a run failed: a refusal with
// the version found and the tag tested, a failed extraction with the
// extractor's exit code, and the exit code with what it means.
TEST(Unattended, TheLogSaysWhyARunFailed) {
    const std::string launch = MakeScratchDirectory("why-launch");
    ASSERT_FALSE(launch.empty());
    // The runs told a Windows version have a name of their own: other tests'
    // setup.exe, started meanwhile, are never told it.
    const char kChecked[] = "setup-checked.exe";
    Package refused = MakePackage("why-refused", "installer.zip");
    ASSERT_FALSE(refused.dir.empty());
    // Without version tags: the package installs nowhere.
    ASSERT_TRUE(CopyFileTo(TestProgramDirectory() + "\\setup.exe", refused.dir + "\\" + kChecked));
    Package failed = MakePackage("why-failed", "installer.zip");
    ASSERT_FALSE(failed.dir.empty());
    ASSERT_TRUE(CopyFileTo(failed.dir + "\\setup.exe", failed.dir + "\\" + kChecked));
    ASSERT_TRUE(CopyFileTo(TestProgramDirectory() + "\\record_installer.exe", failed.dir + "\\unzip.exe"));
    for (const Package* package : {&refused, &failed}) {
        ASSERT_TRUE(WriteTextFile(package->dir + "\\log.tag", ""));
        ASSERT_TRUE(WriteTextFile(package->dir + "\\exitcode.tag", ""));
    }

    ASSERT_TRUE(SetReportedWindowsVersion(kChecked, "win7"));
    RunOptions options = SetupRun(refused, "-s");
    options.exe = refused.dir + "\\" + kChecked;
    options.currentDir = launch;
    RunResult result = RunAndRecord(options);
    EXPECT_TRUE(SetReportedWindowsVersion(kChecked, ""));
    EXPECT_EQ(result.exitCode, 1633UL);
    std::vector<std::string> events = LogEvents(refused.temp);
    const std::string found = "Velmora Quillet: Windows 6.1, platform 2, architecture ";
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [&](const std::string& event) {
                                return event.compare(0, found.size(), found) == 0 &&
                                       event.compare(event.size() - 12, 12, "; vst.tag: 0") == 0;
                            }),
              1);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "Exit code: 1633: not supported");

    // A version no tag stands for is refused, whatever tags the package has.
    ASSERT_TRUE(SetReportedWindowsVersion(kChecked, "win31"));
    options = SetupRun(failed, "-s");
    options.exe = failed.dir + "\\" + kChecked;
    options.currentDir = launch;
    result = RunAndRecord(options);
    EXPECT_TRUE(SetReportedWindowsVersion(kChecked, ""));
    EXPECT_EQ(result.exitCode, 1633UL);
    events = LogEvents(failed.temp);
    const std::string none = "Velmora Quillet: Windows 3.10, platform ";
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [&](const std::string& event) {
                                return event.compare(0, none.size(), none) == 0 &&
                                       event.compare(event.size() - 9, 9, "; none: 0") == 0;
                            }),
              1);
    for (const std::string& log : LogsIn(failed.temp)) {
        ASSERT_TRUE(DeleteFileA((failed.temp + "\\" + log).c_str()));
    }

    options = SetupRun(failed, "-s", "exit=50");
    options.currentDir = launch;
    result = RunAndRecord(options);
    EXPECT_EQ(result.exitCode, 1603UL);
    events = LogEvents(failed.temp);
    const std::string unzip =
        failed.dir + "\\unzip.exe -o \"" + failed.dir + "\\package.zip\" -d " + failed.quiller;
    EXPECT_TRUE(HasEvent(events, unzip + ": exit code 50"));
    EXPECT_TRUE(HasEvent(events,
                         "Velmora Quillet: The package could not be unpacked (exit code 50); nothing "
                         "was installed."));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "Exit code: 1603: extraction failed");

    // "-H" inside the D value asks for the usage box: nothing is installed,
    // and the log says which characters asked for it, and where.
    for (const std::string& log : LogsIn(failed.temp)) {
        ASSERT_TRUE(DeleteFileA((failed.temp + "\\" + log).c_str()));
    }
    const std::string args = "-s -d\"C:\\Program Files\\Web-Host\"";
    options = SetupRun(failed, args);
    options.currentDir = launch;
    result = RunAndRecord(options);
    EXPECT_EQ(result.exitCode, 87UL);
    events = LogEvents(failed.temp);
    EXPECT_TRUE(HasEvent(events, "Usage box shown: option H at 27 of: " + args));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "Exit code: 87: usage shown");

    // UnZip's 1 is a warning: the installation goes on (here to a SETUP.EXE
    // the stand-in never extracted), and the log says so.
    options = SetupRun(failed, "-s", "exit=1");
    options.currentDir = launch;
    for (const std::string& log : LogsIn(failed.temp)) {
        ASSERT_TRUE(DeleteFileA((failed.temp + "\\" + log).c_str()));
    }
    result = RunAndRecord(options);
    EXPECT_EQ(result.exitCode, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
    events = LogEvents(failed.temp);
    EXPECT_TRUE(HasEvent(events, "Extraction warning: exit code 1"));
    EXPECT_TRUE(HasEvent(events, failed.quiller + "\\SETUP.EXE -s -SMS: could not be started (error 2)"));
}

namespace {

// A package of the build of setup.exe that takes its limits from the
// environment, with every version tag, exitcode.tag and log.tag as files.
Package MakeLimitsPackage(const std::string& name, const std::string& archive) {
    Package package = MakePackage(name, archive);
    if (package.dir.empty() ||
        !CopyFileTo(TestProgramDirectory() + "\\setup_limits.exe", package.dir + "\\setup.exe")) {
        package.dir.clear();
    }
    for (const char* tag :
         {"nt4.tag", "w2k.tag", "wxp.tag", "x64.tag", "s23.tag", "vst.tag", "exitcode.tag", "log.tag"}) {
        if (!package.dir.empty() && !WriteTextFile(package.dir + "\\" + tag, "")) {
            package.dir.clear();
        }
    }
    return package;
}

// The events of the log that start with prefix.
std::vector<std::string> EventsStarting(const std::vector<std::string>& events, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& event : events) {
        if (event.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(event);
        }
    }
    return found;
}

std::string AllOf(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    return all;
}

// The installer's log once it holds count lines (30 s at most).
std::vector<std::string> LogLinesOnce(const std::string& path, size_t count) {
    std::vector<std::string> lines;
    for (int i = 0; i < 300 && (lines = LogLines(path)).size() < count; ++i) {
        Sleep(100);
    }
    return lines;
}

}  // namespace

// A child still running at its time limit (lowered here, in a build of
// setup.exe that takes its limits from the environment) is reported as such
// in the log, and with "exitcode.tag" as 1460. The extractor is ended with
// what it started, and the working directory goes; an installer, or a
// process it started that carries on, is never ended: PostProcess.cmd does
// not run and the working directory stays, named in the log.
TEST(Unattended, ChildStillRunningAtItsLimit) {
    const struct {
        const char* name;
        bool extractor;  // the extractor is the program of the mode, else SETUP.EXE
        const char* mode;
        const char* runsOn;  // what still runs at the limit, else nullptr: the child itself
    } cases[] = {{"limit-extractor", true, "second=6000 sleep=6000", nullptr},
                 {"limit-installer", false, "sleep=4000", nullptr},
                 {"limit-grandchild", false, "second=4000", "SETUP.EXE"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Package package = MakeLimitsPackage(c.name, "postprocess.zip");
        ASSERT_FALSE(package.dir.empty());
        if (c.extractor) {
            ASSERT_TRUE(
                CopyFileTo(TestProgramDirectory() + "\\record_installer.exe", package.dir + "\\unzip.exe"));
        }
        RunOptions options = SetupRun(package, "-s", c.mode);
        options.env.push_back({"SETUP_TEST_LIMITS", c.extractor ? "3000 60000" : "60000 1500"});
        RunResult result = RunAndRecord(options);
        EXPECT_EQ(result.exitCode, 1460UL);
        const std::string child = c.extractor ? package.dir + "\\unzip.exe -o \"" + package.dir +
                                                    "\\package.zip\" -d " + package.quiller
                                              : package.quiller + "\\SETUP.EXE -s -SMS";
        const std::string limit = c.extractor ? "3" : "1";
        const std::vector<std::string> events = LogEvents(package.temp);
        if (c.runsOn == nullptr) {
            EXPECT_TRUE(HasEvent(events, child + ": still running at the limit of " + limit + " seconds"))
                << AllOf(events);
        } else {
            EXPECT_TRUE(HasEvent(events, child + ": exit code 0")) << AllOf(events);
            EXPECT_EQ(EventsStarting(events, child + ": still running: " + c.runsOn + " (pid ").size(), 1U)
                << AllOf(events);
        }
        const std::vector<std::string> started = LogLines(package.log);
        ASSERT_FALSE(started.empty());
        EXPECT_EQ(started[0], "installer: " + child);
        if (c.extractor) {
            // It and the process it started were ended: neither logs again.
            Sleep(7000);
            EXPECT_EQ(LogLines(package.log), started);
            EXPECT_EQ(started.size(), 4U) << ReadTextFile(package.log);
            EXPECT_FALSE(PathExists(package.quiller));
            continue;
        }
        // Nothing was ended, and nothing ran after it: the working directory
        // is still there for the program at work.
        EXPECT_TRUE(HasEvent(events, "Left in place, in use: " + package.quiller)) << AllOf(events);
        EXPECT_TRUE(PathExists(package.quiller + "\\payload.txt"));
        const std::vector<std::string> lines = LogLinesOnce(package.log, 5);
        ASSERT_EQ(lines.size(), 5U) << ReadTextFile(package.log);
        EXPECT_EQ(lines[4], c.runsOn == nullptr ? "slept" : "second: payload present");
        Sleep(500);
        EXPECT_EQ(LogLines(package.log).size(), 5U) << "PostProcess.cmd ran: " << ReadTextFile(package.log);
    }
}

// A bootstrapper: SETUP.EXE starts a second process (a copy of itself, from
// the working directory or from TEMP) and ends at once; 3 s later the second
// reads its data from the working directory. The run waits for it:
// PostProcess.cmd runs after it, then the directory goes; the log names it.
TEST(InstallPackage, BootstrapperHandsOffToASecondProcess) {
    const struct {
        const char* name;
        const char* args;
        const char* mode;
        const char* program;  // the second process's program
    } cases[] = {{"handoff-silent", "-s", "second=3000", "SETUP.EXE"},
                 {"handoff-interactive", "", "second=3000", "SETUP.EXE"},
                 {"handoff-temp", "-s", "second=3000 second-temp", "boot-"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Package package = MakePackage(c.name, "postprocess.zip", {"exitcode.tag", "log.tag"});
        ASSERT_FALSE(package.dir.empty());
        RunOptions options = SetupRun(package, c.args, c.mode);
        options.leaveOpen = {kProductTitle};
        RunResult result = RunAndRecord(options);
        EXPECT_EQ(result.exitCode, 0UL) << Describe(result);
        const std::vector<std::string> lines = LogLines(package.log);
        ASSERT_EQ(lines.size(), 6U) << ReadTextFile(package.log);
        EXPECT_EQ(lines[4], "second: payload present");
        EXPECT_EQ(lines[5], "postprocess: " + package.quiller);
        EXPECT_FALSE(PathExists(package.quiller));
        const std::vector<std::string> events = LogEvents(package.temp);
        const std::string installer = package.quiller + "\\SETUP.EXE" + (c.args[0] != '\0' ? " -s -SMS" : "");
        const std::vector<std::string> handOff =
            EventsStarting(events, installer + ": 1 process it started ran on for ");
        ASSERT_EQ(handOff.size(), 1U) << AllOf(events);
        EXPECT_NE(handOff[0].find(std::string(" s: ") + c.program), std::string::npos) << handOff[0];
        EXPECT_EQ(events.back(), "Exit code: 0: installed");
    }
}

// The application an installer starts at its end, from outside the
// installation locations, is not waited for, and the log names it; with
// "waitall.tag" every process counts.
TEST(InstallPackage, TheApplicationAnInstallerStartsIsWaitedForOnlyWithWaitAll) {
    for (bool waitAll : {false, true}) {
        SCOPED_TRACE(waitAll ? "waitall" : "default");
        Package package = MakePackage(waitAll ? "app-waitall" : "app-default", "installer.zip",
                                      {"exitcode.tag", "log.tag"});
        ASSERT_FALSE(package.dir.empty());
        if (waitAll) {
            ASSERT_TRUE(WriteTextFile(package.dir + "\\waitall.tag", ""));
        }
        RunOptions options = SetupRun(package, "-s", "app=4000");
        options.env.push_back({"SETUP_TEST_APP", TestProgramDirectory() + "\\record_installer.exe"});
        RunResult result = RunAndRecord(options);
        EXPECT_EQ(result.exitCode, 0UL);
        const std::vector<std::string> events = LogEvents(package.temp);
        const std::string installer = package.quiller + "\\SETUP.EXE -s -SMS: ";
        EXPECT_EQ(LogLines(package.log).back() == "app: done", waitAll) << ReadTextFile(package.log);
        EXPECT_EQ(EventsStarting(events, installer + "not waited for: record_installer.exe (pid ").size(),
                  waitAll ? 0U : 1U)
            << AllOf(events);
        EXPECT_EQ(EventsStarting(events, installer + "1 process it started ran on for ").size(),
                  waitAll ? 1U : 0U)
            << AllOf(events);
        EXPECT_FALSE(PathExists(package.quiller));
        // Let the application end before its directory's test is done.
        EXPECT_EQ(LogLinesOnce(package.log, 5).back(), "app: done");
    }
}

// Where no job can be had (NT 4.0 has none), each child is waited for as
// before, and the log says so.
TEST(InstallPackage, WithoutJobsEachChildAloneIsWaitedFor) {
    Package package = MakeLimitsPackage("no-jobs", "postprocess.zip");
    ASSERT_FALSE(package.dir.empty());
    RunOptions options = SetupRun(package, "-s");
    options.env.push_back({"SETUP_TEST_NO_JOBS", "1"});
    RunResult result = RunAndRecord(options);
    EXPECT_EQ(result.exitCode, 0UL);
    const std::vector<std::string> events = LogEvents(package.temp);
    EXPECT_EQ(EventsStarting(events, package.dir + "\\unzip.exe").size(), 3U) << AllOf(events);
    EXPECT_TRUE(HasEvent(events, package.quiller + "\\SETUP.EXE -s -SMS: no job: its own process only"))
        << AllOf(events);
    EXPECT_EQ(LogLines(package.log).back(), "postprocess: " + package.quiller);
    EXPECT_FALSE(PathExists(package.quiller));
}

// Two packages installed at the same time, and one whose PostProcess.cmd
// installs another, each in a working directory of its own under one
// temporary directory: every one is gone when its run ends.
TEST(InstallPackage, ConcurrentAndChainedRunsLeaveNothingInTemp) {
    Package first = MakePackage("together-first", "postprocess.zip");
    Package second = MakePackage("together-second", "postprocess.zip");
    Package chain = MakePackage("together-chain", "chain.zip");
    Package chained = MakePackage("together-chained", "installer.zip");
    for (const Package* package : {&first, &second, &chain, &chained}) {
        ASSERT_FALSE(package->dir.empty());
    }
    std::vector<RunOptions> runs = {SetupRun(first, "-s"), SetupRun(second, "-s"), SetupRun(chain, "-s")};
    runs[2].env.push_back({"SETUP_TEST_SECOND", chained.dir});
    std::string firstLeft;
    EXPECT_EQ(RoundsWithLeftovers(runs, "together-temp", 50, &firstLeft), 0) << firstLeft;
    // The runs overlapped: now and then one of the two found QUILLER taken by
    // another and made a name of its own.
    EXPECT_NE((ReadTextFile(first.log) + ReadTextFile(second.log)).find("\\together-temp\\QUILLER-"),
              std::string::npos);
}

// Started without a console, as from Explorer: the console that
// PostProcess.cmd gets may hold the working directory a moment longer.
TEST(InstallPackage, RunWithoutAConsoleLeavesNothingInTemp) {
    Package package = MakePackage("detached", "postprocess.zip");
    ASSERT_FALSE(package.dir.empty());
    RunOptions options = SetupRun(package, "-s");
    options.creationFlags = DETACHED_PROCESS;
    int roundsWithLeftovers = 0;
    for (int round = 0; round < 10; ++round) {
        RunResult result = RunAndRecord(options);
        EXPECT_EQ(result.exitCode, 1UL);
        if (!TakeLeftovers("detached-temp", package.temp).empty()) {
            ++roundsWithLeftovers;
        }
    }
    std::cout << "rounds with leftovers: " << roundsWithLeftovers << " of 10\n";
    EXPECT_EQ(roundsWithLeftovers, 0);
    EXPECT_EQ(SplitLines(ReadTextFile(package.log)).back(), "postprocess: " + package.quiller);
}
