// setup.exe under Wine: usage box, debug boxes, package tags, the system check and long command lines.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

// Without this each box costs Wine's 2 s wait for a window manager the test display lacks.
class UnmanagedBoxes : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SkipWindowManagerWait("setup.exe")); }
};
::testing::Environment* const kUnmanagedBoxes = ::testing::AddGlobalTestEnvironment(new UnmanagedBoxes);

const char kProductTitle[] = "Velmora Quillet Check 1.9";
const char kShortTitle[] = "Velmora Quillet";
const char kUsage[] =
    "Usage: setup [-s] [-d<directory>]\n\n  where <directory> is path to leave files behind.";
const char kRefusalTitle[] = "Quillet Check";
const char kRefusal[] = "This program is not for use under this operating system.";
const char kDestinationTitle[] = "Velmora Quillet: Output Directory Specified.";
const char kDestinationCut[] = "Output directory cut off by the command-line limit; ignored.";

using Box = std::pair<std::string, std::string>;  // title, text

// Windows 5.2 needs the tag of the architecture this build is told: AMD64 for
// the x86_64 build, x86 for the shipped 32-bit one.
const char* ServerTag() {
    return sizeof(void*) == 8 ? "x64.tag" : "s23.tag";
}

RunResult RunSetup(const std::string& package, const std::string& args, const std::string& currentDir = "") {
    RunOptions options;
    options.exe = package + "\\setup.exe";
    options.args = args;
    options.currentDir = currentDir.empty() ? package : currentDir;
    options.timeoutMs = 60000;
    return RunAndRecord(options);
}

std::vector<Box> Boxes(const RunResult& result) {
    std::vector<Box> boxes;
    for (const BoxRecord& box : result.boxes) {
        boxes.emplace_back(box.title, box.text);
    }
    return boxes;
}

// The first count boxes of a run.
std::vector<Box> FirstBoxes(const RunResult& result, size_t count) {
    std::vector<Box> boxes = Boxes(result);
    boxes.resize(std::min(count, boxes.size()));
    return boxes;
}

// The diagnostics every debug run starts with, for a package and launch directory.
std::vector<Box> OpeningDiagnostics(const std::string& package, const std::string& launch) {
    return {{kShortTitle, "ProgramPointer: " + package + "\\setup.exe\n"},
            {kShortTitle, "Current: " + launch + "\nRun: " + package + "\\"}};
}

// A refusal must be the plain box: one OK button and no owner window.
void ExpectPlainBox(const RunResult& result, const std::string& title) {
    for (const BoxRecord& box : result.boxes) {
        if (box.title == title) {
            EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"}) << title;
            EXPECT_FALSE(box.hasOwner) << title;
        }
    }
}

// Each test chooses the Windows version setup.exe is told, and forgets it after.
class Launcher : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(SetReportedWindowsVersion("setup.exe", "")); }
    static void Report(const char* version) { ASSERT_TRUE(SetReportedWindowsVersion("setup.exe", version)); }
};

}  // namespace

TEST_F(Launcher, HelpOptionShowsOnlyTheUsageBox) {
    Report("winxp");
    // A supported package in debug mode: anything beyond the usage box would show.
    const std::string package = MakePackageDirectory("usage", {"wxp.tag"});
    ASSERT_FALSE(package.empty());
    ASSERT_TRUE(WriteTextFile(package + "\\debug.tag", ""));
    for (const char* args : {"-h", "-H", "/h", "/H", "-s -dC:\\out /h", "-dC:\\a-h"}) {
        RunResult result = RunSetup(package, args);
        EXPECT_EQ(result.exitCode, 0UL) << args;
        EXPECT_EQ(Boxes(result), (std::vector<Box>{{kProductTitle, kUsage}})) << args;
        ExpectPlainBox(result, kProductTitle);
    }
    RunResult other = RunSetup(package, "/?");
    EXPECT_EQ(other.exitCode, 1UL);
    EXPECT_EQ(FindBox(other, kProductTitle, kUsage), -1);
}

TEST_F(Launcher, DebugModeComesFromTheLaunchDirectoryOnly) {
    Report("winxp");  // no package below has wxp.tag: every run ends in the refusal
    const std::string package = MakePackageDirectory("debug-package", {"debug.tag"});
    const std::string launch = MakeScratchDirectory("debug-launch");
    const std::string plain = MakeScratchDirectory("debug-plain");
    ASSERT_FALSE(package.empty() || launch.empty() || plain.empty());
    ASSERT_TRUE(WriteTextFile(launch + "\\debug.tag", ""));
    const Box refusal{kRefusalTitle, kRefusal};

    // In the tail only: not debug mode.
    EXPECT_EQ(Boxes(RunSetup(package, "-dC:\\out")), std::vector<Box>{refusal});

    // As a file in the launch directory: every diagnostic, in order.
    std::vector<Box> expected = OpeningDiagnostics(package, launch);
    expected.push_back({kDestinationTitle, "C:\\out"});
    expected.push_back(refusal);
    RunResult result = RunSetup(package, "-dC:\\out -s", launch);
    EXPECT_EQ(Boxes(result), expected);
    EXPECT_EQ(result.exitCode, 0UL);
    ExpectPlainBox(result, kRefusalTitle);

    // In the package directory, started from there: the launch directory is the package directory.
    ASSERT_TRUE(WriteTextFile(package + "\\debug.tag", ""));
    expected = OpeningDiagnostics(package, package);
    expected.push_back(refusal);
    EXPECT_EQ(Boxes(RunSetup(package, "")), expected);

    // In the package directory, started from elsewhere: not debug mode.
    EXPECT_EQ(Boxes(RunSetup(package, "-dC:\\out", plain)), std::vector<Box>{refusal});

    // A supported run shows the same opening diagnostics and no refusal.
    ASSERT_TRUE(WriteTextFile(package + "\\wxp.tag", ""));
    result = RunSetup(package, "-s", launch);
    EXPECT_EQ(result.exitCode, 1UL);
    EXPECT_EQ(FirstBoxes(result, 2), OpeningDiagnostics(package, launch));
    EXPECT_EQ(FindBox(result, kRefusalTitle, kRefusal), -1);
}

TEST_F(Launcher, TagsComeFromTheTailOrFromThePackageDirectory) {
    Report("winxp");
    const std::string elsewhere = MakeScratchDirectory("tags-elsewhere");
    ASSERT_FALSE(elsewhere.empty());
    const struct {
        const char* name;
        std::vector<std::string> tail;
        std::vector<std::string> files;  // in the package directory
        const char* directory;           // a directory of this name in the package directory
        bool startElsewhere;
        unsigned long exitCode;  // 1 supported, 0 refused
    } rows[] = {
        {"tail", {"wxp.tag"}, {}, nullptr, false, 1},
        {"tail-case", {"WXP.TAG"}, {}, nullptr, false, 0},
        {"tail-longer", {"xwxp.tag"}, {}, nullptr, false, 1},
        {"tail-zero", {std::string("w2k.tag\0", 8), "wxp.tag"}, {}, nullptr, false, 1},
        {"tail-early", {"wxp.tag", std::string(300, '=')}, {}, nullptr, false, 0},
        {"tail-other", {"nt4.tag", "w2k.tag", "x64.tag", "s23.tag", "vst.tag"}, {}, nullptr, false, 0},
        {"file", {}, {"wxp.tag"}, nullptr, false, 1},
        {"file-case", {}, {"WXP.TAG"}, nullptr, false, 1},
        {"file-longer", {}, {"xwxp.tag"}, nullptr, false, 0},
        {"file-elsewhere", {}, {"wxp.tag"}, nullptr, true, 1},
        {"directory", {}, {}, "wxp.tag", true, 1},
        {"both", {"wxp.tag"}, {"wxp.tag"}, nullptr, false, 1},
    };
    for (const auto& row : rows) {
        const std::string package = MakePackageDirectory(std::string("tags-") + row.name, row.tail);
        ASSERT_FALSE(package.empty()) << row.name;
        for (const std::string& file : row.files) {
            ASSERT_TRUE(WriteTextFile(package + "\\" + file, "")) << row.name;
        }
        if (row.directory != nullptr) {
            ASSERT_TRUE(CreateDirectoryA((package + "\\" + row.directory).c_str(), nullptr)) << row.name;
        }
        RunResult result = RunSetup(package, "-s", row.startElsewhere ? elsewhere : "");
        EXPECT_EQ(result.exitCode, row.exitCode) << row.name;
        EXPECT_EQ(FindBox(result, kRefusalTitle, kRefusal) != -1, row.exitCode == 0) << row.name;
    }
    // A tag file in the launch directory alone does not count.
    ASSERT_TRUE(WriteTextFile(elsewhere + "\\wxp.tag", ""));
    const std::string package = MakePackageDirectory("tags-launch-only", {});
    ASSERT_FALSE(package.empty());
    EXPECT_EQ(RunSetup(package, "-s", elsewhere).exitCode, 0UL);
}

TEST_F(Launcher, EachWindowsVersionNeedsItsOwnTag) {
    const std::vector<std::string> allTags = {"nt4.tag", "w2k.tag", "wxp.tag",
                                              "x64.tag", "s23.tag", "vst.tag"};
    const struct {
        const char* version;
        std::string tag;
    } rows[] = {
        {"nt40", "nt4.tag"},      {"win98", "nt4.tag"}, {"win2k", "w2k.tag"}, {"winxp", "wxp.tag"},
        {"win2003", ServerTag()}, {"vista", "vst.tag"}, {"win7", "vst.tag"},  {"win10", "vst.tag"},
    };
    for (const auto& row : rows) {
        Report(row.version);
        std::vector<std::string> others;
        for (const std::string& tag : allTags) {
            if (tag != row.tag) {
                others.push_back(tag);
            }
        }
        const std::string package = MakePackageDirectory(std::string("os-") + row.version, others);
        ASSERT_FALSE(package.empty());
        RunResult refused = RunSetup(package, "-s");
        EXPECT_EQ(refused.exitCode, 0UL) << row.version;
        EXPECT_EQ(Boxes(refused), (std::vector<Box>{{kRefusalTitle, kRefusal}})) << row.version;
        ExpectPlainBox(refused, kRefusalTitle);

        ASSERT_TRUE(WriteTextFile(package + "\\" + row.tag, ""));
        RunResult supported = RunSetup(package, "-s");
        EXPECT_EQ(supported.exitCode, 1UL) << row.version;
        EXPECT_EQ(FindBox(supported, kRefusalTitle, kRefusal), -1) << row.version;
    }
}

TEST_F(Launcher, LongCommandLinesNeverYieldACutDestination) {
    Report("winxp");
    const std::string package = MakePackageDirectory("long-arguments", {});
    ASSERT_FALSE(package.empty());
    ASSERT_TRUE(WriteTextFile(package + "\\debug.tag", ""));
    const std::string fits = "C:\\" + std::string(250, 'a');  // the whole argument string fits the copy
    const struct {
        std::string args;
        Box destination;
    } rows[] = {
        {"-s -d" + std::string(300, 'x'), {kShortTitle, kDestinationCut}},
        {"-dC:\\" + std::string(5000, 'y'), {kShortTitle, kDestinationCut}},
        {"-d\"C:\\" + std::string(32000, ' '), {kShortTitle, kDestinationCut}},  // cut inside quotes
        {"-dC:\\out " + std::string(32000, 'z'), {kDestinationTitle, "C:\\out"}},
        {"-d" + fits, {kDestinationTitle, fits}},
    };
    for (const auto& row : rows) {
        std::vector<Box> expected = OpeningDiagnostics(package, package);
        expected.push_back(row.destination);
        expected.push_back({kRefusalTitle, kRefusal});
        RunResult result = RunSetup(package, row.args);
        EXPECT_EQ(result.exitCode, 0UL) << row.args.size();
        EXPECT_EQ(Boxes(result), expected) << row.args.size();
    }
    ASSERT_TRUE(WriteTextFile(package + "\\wxp.tag", ""));
    EXPECT_EQ(RunSetup(package, "-s -d" + std::string(5000, 'x')).exitCode, 1UL);
}

TEST_F(Launcher, LongPackagePathsAppearWholeInTheDiagnostics) {
    Report("winxp");
    // C:\setup-tests\<230 characters>\setup.exe: 255 characters, just inside MAX_PATH.
    const std::string package = MakePackageDirectory(std::string(230, 'p'), {"wxp.tag"});
    ASSERT_FALSE(package.empty());
    ASSERT_TRUE(WriteTextFile(package + "\\debug.tag", ""));
    RunResult result = RunSetup(package, "-s");
    EXPECT_EQ(result.exitCode, 1UL);  // the tail of a long path is read too
    EXPECT_EQ(FirstBoxes(result, 2), OpeningDiagnostics(package, package));
}
