// Tests of the end-to-end harness against show_box.exe, a helper whose boxes are known in advance.
#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// Without this each box costs Wine's 2 s wait for a window manager the test display lacks.
namespace {

class UnmanagedBoxes : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(SkipWindowManagerWait("show_box.exe"));
        ASSERT_TRUE(SkipWindowManagerWait("other_box.exe"));
    }
};

::testing::Environment* const kUnmanagedBoxes = ::testing::AddGlobalTestEnvironment(new UnmanagedBoxes);

}  // namespace

static std::string ShowBoxPath() {
    return TestProgramDirectory() + "\\show_box.exe";
}

static RunOptions ShowBox(const std::string& args) {
    RunOptions options;
    options.exe = ShowBoxPath();
    options.args = args;
    options.timeoutMs = 60000;
    return options;
}

// Both ending flags false means the harness pressed OK.
static bool PressedByHarness(const BoxRecord& box) {
    return !box.closedByProgram && !box.openAtExit;
}

TEST(RunAndRecord, RecordsTitleTextButtonOwnerAndExitCode) {
    RunResult result = RunAndRecord(ShowBox("\"Harness Title\" \"First line\nsecond line\" 7"));

    ASSERT_EQ(0u, result.startError) << ShowBoxPath();
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(7u, result.exitCode);
    ASSERT_EQ(1u, result.boxes.size());
    const BoxRecord& box = result.boxes[0];
    EXPECT_EQ("Harness Title", box.title);
    EXPECT_EQ("First line\nsecond line", box.text);
    EXPECT_EQ(std::vector<std::string>{"OK"}, box.buttons);
    EXPECT_FALSE(box.hasOwner);
    EXPECT_TRUE(PressedByHarness(box));
}

// The comparison a test relies on must tell a near miss from the real text.
TEST(FindBox, MatchesTitleAndTextExactly) {
    RunResult result = RunAndRecord(ShowBox("\"Exact Title\" \"Exact text.\""));
    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(0, FindBox(result, "Exact Title", "Exact text."));

    const struct {
        const char* title;
        const char* text;
    } misses[] = {
        {"Exact Title", "Exact text"},    // last character missing
        {"Exact Title", "Exact text. "},  // one character more
        {"Exact Title", "exact text."},   // case differs
        {"Exact Title", "Exact"},         // prefix
        {"Exact Title", ""},
        {"Exact", "Exact text."},
        {"exact title", "Exact text."},
        {"Other Title", "Other text."},
    };
    for (const auto& miss : misses) {
        EXPECT_EQ(-1, FindBox(result, miss.title, miss.text))
            << "[" << miss.title << "] [" << miss.text << "]";
    }
    EXPECT_NE("Exact text", result.boxes[0].text);
}

TEST(RunAndRecord, RecordsSuccessiveBoxesInOrder) {
    RunResult result = RunAndRecord(ShowBox("First One 3 Second Two Third Three"));

    EXPECT_EQ(3u, result.exitCode);
    ASSERT_EQ(3u, result.boxes.size());
    const char* const expected[][2] = {{"First", "One"}, {"Second", "Two"}, {"Third", "Three"}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(expected[i][0], result.boxes[i].title) << i;
        EXPECT_EQ(expected[i][1], result.boxes[i].text) << i;
        EXPECT_TRUE(PressedByHarness(result.boxes[i])) << i;
    }
}

// Identical boxes one after another are separate appearances, not one box seen longer.
TEST(RunAndRecord, CountsIdenticalBoxesOneByOne) {
    RunResult result = RunAndRecord(ShowBox("Same Again 0 Same Again Same Again Same Again"));

    EXPECT_EQ(4u, result.boxes.size());
    EXPECT_FALSE(result.timedOut);
}

TEST(RunAndRecord, AppliesEnvironmentOverridesToTheProgramOnly) {
    ASSERT_TRUE(SetEnvironmentVariableA("HARNESS_PROBE", "inherited"));
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> env;
        const char* shown;
        const char* expected;
    } cases[] = {
        {"inherited unchanged", {}, "%HARNESS_PROBE%", "inherited"},
        {"TEMP replaced", {{"TEMP", "C:\\harness\\temp"}}, "%TEMP%", "C:\\harness\\temp"},
        {"name matched regardless of case", {{"harness_probe", "replaced"}}, "%HARNESS_PROBE%", "replaced"},
        {"empty value removes", {{"HARNESS_PROBE", ""}}, "%HARNESS_PROBE%", "(unset)"},
        {"new variable added", {{"HARNESS_NEW", "fresh"}}, "%HARNESS_NEW%", "fresh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunOptions options = ShowBox(std::string("Env ") + c.shown);
        options.env = c.env;
        RunResult result = RunAndRecord(options);
        ASSERT_EQ(1u, result.boxes.size());
        EXPECT_EQ(c.expected, result.boxes[0].text);
    }
    char value[64];
    EXPECT_EQ(0u, GetEnvironmentVariableA("HARNESS_NEW", value, sizeof value));
    EXPECT_EQ(9u, GetEnvironmentVariableA("HARNESS_PROBE", value, sizeof value));
    SetEnvironmentVariableA("HARNESS_PROBE", NULL);
}

TEST(RunAndRecord, StartsProgramInGivenOrOwnCurrentDirectory) {
    std::string scratch = MakeScratchDirectory("harness-cd");
    ASSERT_FALSE(scratch.empty());
    RunOptions options = ShowBox("Dir %CD%");
    options.currentDir = scratch;
    RunResult result = RunAndRecord(options);
    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_EQ(scratch, result.boxes[0].text);

    char own[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof own, own), 0u);
    result = RunAndRecord(ShowBox("Dir %CD%"));
    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_EQ(own, result.boxes[0].text);
}

TEST(RunAndRecord, LeavesListedBoxForTheProgramToClose) {
    RunOptions options = ShowBox("--self-close Notice \"Please wait.\" 5 After Done");
    options.leaveOpen = {"Notice"};
    RunResult result = RunAndRecord(options);

    EXPECT_EQ(5u, result.exitCode);
    ASSERT_EQ(2u, result.boxes.size());
    EXPECT_EQ("Notice", result.boxes[0].title);
    EXPECT_EQ("Please wait.", result.boxes[0].text);
    EXPECT_TRUE(result.boxes[0].closedByProgram);
    EXPECT_FALSE(result.boxes[0].openAtExit);
    EXPECT_EQ("After", result.boxes[1].title);
    EXPECT_TRUE(PressedByHarness(result.boxes[1]));
}

// The same program without leaveOpen: the harness answers the box first.
TEST(RunAndRecord, PressesBoxThatIsNotListed) {
    RunResult result = RunAndRecord(ShowBox("--self-close Notice \"Please wait.\" 5"));

    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_TRUE(PressedByHarness(result.boxes[0]));
    EXPECT_EQ(5u, result.exitCode);
}

TEST(RunAndRecord, KillsProgramPastTimeLimit) {
    RunOptions options = ShowBox("Stuck \"Never answered\" 4");
    options.leaveOpen = {"Stuck"};
    options.timeoutMs = 5000;
    RunResult result = RunAndRecord(options);

    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(kTimeoutExitCode, result.exitCode);
    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_TRUE(result.boxes[0].openAtExit);
    EXPECT_FALSE(result.boxes[0].closedByProgram);
}

TEST(RunAndRecord, ReportsProgramThatCannotStart) {
    RunOptions options = ShowBox("");
    options.exe = TestProgramDirectory() + "\\no_such_program.exe";
    RunResult result = RunAndRecord(options);

    EXPECT_EQ(static_cast<unsigned long>(ERROR_FILE_NOT_FOUND), result.startError);
    EXPECT_TRUE(result.boxes.empty());
}

static bool VersionValueExists(const char* exeName) {
    std::string keyName = std::string("Software\\Wine\\AppDefaults\\") + exeName;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    bool exists = RegQueryValueExA(key, "Version", NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

// show_box's %VER% text is "major.minor.build platform".
TEST(SetReportedWindowsVersion, ChangesVersionThatProgramSees) {
    const struct {
        const char* version;
        const char* majorMinor;
        const char* platform;
    } cases[] = {
        {"nt40", "4.0.", " 2"},    {"win98", "4.10.", " 1"}, {"win2k", "5.0.", " 2"}, {"winxp", "5.1.", " 2"},
        {"win2003", "5.2.", " 2"}, {"vista", "6.0.", " 2"},  {"win7", "6.1.", " 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        ASSERT_TRUE(SetReportedWindowsVersion("show_box.exe", c.version));
        RunResult result = RunAndRecord(ShowBox("Version %VER%"));
        ASSERT_EQ(1u, result.boxes.size());
        const std::string& text = result.boxes[0].text;
        EXPECT_EQ(0u, text.find(c.majorMinor)) << text;
        EXPECT_EQ(text.size() - 2, text.rfind(c.platform)) << text;
    }

    // Another file name keeps the prefix's own version.
    std::string scratch = MakeScratchDirectory("harness-version");
    ASSERT_TRUE(SetReportedWindowsVersion("show_box.exe", "win2k"));
    ASSERT_TRUE(CopyFileTo(ShowBoxPath(), scratch + "\\other_box.exe"));
    RunOptions other = ShowBox("Version %VER%");
    other.exe = scratch + "\\other_box.exe";
    RunResult result = RunAndRecord(other);
    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_NE(0u, result.boxes[0].text.find("5.0.")) << result.boxes[0].text;

    EXPECT_TRUE(SetReportedWindowsVersion("show_box.exe", ""));
    EXPECT_FALSE(VersionValueExists("show_box.exe"));
    EXPECT_TRUE(SetReportedWindowsVersion("show_box.exe", "")) << "deleting an absent value is no failure";
}

namespace {

struct TimedRun {
    RunOptions options;
    RunResult result;
    DWORD endedAt = 0;
};

DWORD WINAPI RunTimed(LPVOID param) {
    TimedRun* run = static_cast<TimedRun*>(param);
    run->result = RunAndRecord(run->options);
    run->endedAt = GetTickCount();
    return 0;
}

}  // namespace

// A program started with the prefix's own version reads it at some moment
// after its start, and its children later still: a start that sets a version
// for the name waits until such a program has ended.
TEST(SetReportedWindowsVersion, WaitsForProgramsStartedWithThePrefixsVersion) {
    std::string scratch = MakeScratchDirectory("harness-version-wait");
    ASSERT_TRUE(CopyFileTo(ShowBoxPath(), scratch + "\\other_box.exe"));
    TimedRun plain;
    plain.options = ShowBox("\"Plain Title\" %VER%");
    plain.options.exe = scratch + "\\other_box.exe";
    plain.options.leaveOpen = {"Plain Title"};
    plain.options.timeoutMs = 3000;  // its box stays up until it is killed
    HANDLE thread = CreateThread(NULL, 0, RunTimed, &plain, 0, NULL);
    ASSERT_NE(thread, nullptr);
    // Its program runs once its box is up.
    for (int i = 0; i < 1500 && FindWindowA(NULL, "Plain Title") == NULL; ++i) {
        Sleep(20);
    }

    ASSERT_TRUE(SetReportedWindowsVersion("other_box.exe", "win2k"));
    RunOptions toldOptions = plain.options;
    toldOptions.leaveOpen.clear();
    toldOptions.timeoutMs = 60000;
    RunResult told = RunAndRecord(toldOptions);
    const DWORD toldEndedAt = GetTickCount();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(SetReportedWindowsVersion("other_box.exe", ""));

    EXPECT_TRUE(plain.result.timedOut);
    ASSERT_EQ(1u, plain.result.boxes.size());
    EXPECT_EQ(std::string::npos, plain.result.boxes[0].text.find("5.0.")) << plain.result.boxes[0].text;
    ASSERT_EQ(1u, told.boxes.size());
    EXPECT_NE(std::string::npos, told.boxes[0].text.find("5.0.")) << told.boxes[0].text;
    EXPECT_GE(static_cast<LONG>(toldEndedAt - plain.endedAt), 0)
        << "the start that sets a version did not wait";
}

TEST(MakeScratchDirectory, StartsEmptyEvenOverReadOnlyLeftovers) {
    std::string scratch = MakeScratchDirectory("harness-scratch");
    ASSERT_EQ("C:\\setup-tests\\harness-scratch", scratch);
    std::string sub = scratch + "\\sub";
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), NULL));
    ASSERT_TRUE(WriteTextFile(sub + "\\locked.txt", "x"));
    ASSERT_TRUE(SetFileAttributesA((sub + "\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA(sub.c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_EQ(scratch, MakeScratchDirectory("harness-scratch"));
    EXPECT_TRUE(PathExists(scratch));
    EXPECT_FALSE(PathExists(sub));
}

TEST(MakeScratchDirectory, RefusesAnythingButOneName) {
    for (const char* name : {"", ".", "..", "..\\setup-tests", "a\\b", "a/b", "C:x"}) {
        EXPECT_EQ("", MakeScratchDirectory(name)) << "[" << name << "]";
    }
}

TEST(FileHelpers, KeepBytesExactly) {
    std::string scratch = MakeScratchDirectory("harness-files");
    ASSERT_FALSE(scratch.empty());
    std::string path = scratch + "\\data.bin";
    const std::string second("two\0\n", 5);

    EXPECT_FALSE(PathExists(path));
    EXPECT_EQ("", ReadTextFile(path));
    ASSERT_TRUE(WriteTextFile(path, "one\r\n"));
    ASSERT_TRUE(AppendToFile(path, second));
    EXPECT_EQ("one\r\n" + second, ReadTextFile(path));
    ASSERT_TRUE(WriteTextFile(path, "new"));
    EXPECT_EQ("new", ReadTextFile(path));

    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CopyFileTo(path, scratch + "\\copy.bin"));
    EXPECT_TRUE(AppendToFile(scratch + "\\copy.bin", "+")) << "a copy can be written to";
    EXPECT_EQ("new+", ReadTextFile(scratch + "\\copy.bin"));
    EXPECT_FALSE(CopyFileTo(scratch + "\\missing.bin", scratch + "\\other.bin"));
    EXPECT_FALSE(WriteTextFile(scratch + "\\no-such-dir\\file.txt", "x"));
}

TEST(MakePackageDirectory, CopiesSetupWithTagsAppended) {
    std::string setup = TestProgramDirectory() + "\\setup.exe";
    if (!PathExists(setup)) {
        GTEST_SKIP() << "no setup.exe beside the test program";
    }
    std::string original = ReadTextFile(setup);
    ASSERT_FALSE(original.empty());

    std::string package = MakePackageDirectory("harness-package", {"wxp.tag", "debug.tag"});
    ASSERT_EQ("C:\\setup-tests\\harness-package", package);
    EXPECT_EQ(original + "wxp.tag\r\ndebug.tag\r\n", ReadTextFile(package + "\\setup.exe"));
    EXPECT_EQ(PathExists(TestProgramDirectory() + "\\unzip.exe"), PathExists(package + "\\unzip.exe"));

    // A second package of the same name starts from a fresh copy.
    package = MakePackageDirectory("harness-package", {});
    EXPECT_EQ(original, ReadTextFile(package + "\\setup.exe"));
}
