// How each runner starts its child, which processes it started are waited
// for, and what the tree removal does with each entry.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
// The host build has no Windows headers; the Windows builds check the same
// decisions against the real ones.
enum : unsigned long {
    FILE_ATTRIBUTE_READONLY = 0x1,
    FILE_ATTRIBUTE_HIDDEN = 0x2,
    FILE_ATTRIBUTE_SYSTEM = 0x4,
    FILE_ATTRIBUTE_DIRECTORY = 0x10,
    FILE_ATTRIBUTE_ARCHIVE = 0x20,
    FILE_ATTRIBUTE_NORMAL = 0x80,
    FILE_ATTRIBUTE_REPARSE_POINT = 0x400,
    INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF,
    STARTF_USESHOWWINDOW = 0x1,
    SW_MINIMIZE = 6,
    CREATE_NEW_CONSOLE = 0x10,
    NORMAL_PRIORITY_CLASS = 0x20,
    CREATE_SEPARATE_WOW_VDM = 0x800,
    CREATE_DEFAULT_ERROR_MODE = 0x04000000,
};
#endif

#include <string.h>

#include <string>

#include "install/child_wait.h"
#include "install/runner_limits.h"
#include "install/runner_setup.h"
#include "install/tree_entry.h"

TEST(RunnerSetupFor, MatchesEachRunnersStartUpSettings) {
    RunnerSetup extractor = RunnerSetupFor(ExtractorRunner);
    EXPECT_STREQ(extractor.WindowTitle, "Unzip Files");
    EXPECT_EQ(extractor.StartFlags, static_cast<unsigned long>(STARTF_USESHOWWINDOW));
    EXPECT_EQ(extractor.ShowWindow, SW_MINIMIZE);
    EXPECT_EQ(extractor.CreationFlags, 0x830UL);
    EXPECT_EQ(
        extractor.CreationFlags,
        static_cast<unsigned long>(CREATE_NEW_CONSOLE | CREATE_SEPARATE_WOW_VDM | NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(extractor.SecurityRecords, 0);
    EXPECT_EQ(extractor.TimeLimit, 360000UL);

    RunnerSetup program = RunnerSetupFor(ProgramRunner);
    EXPECT_STREQ(program.WindowTitle, "External Program");
    EXPECT_EQ(program.StartFlags, 0UL);
    EXPECT_EQ(program.ShowWindow, 0);
    EXPECT_EQ(program.CreationFlags, static_cast<unsigned long>(CREATE_DEFAULT_ERROR_MODE));
    EXPECT_EQ(program.SecurityRecords, 1);
    EXPECT_EQ(program.TimeLimit, 2080000UL);

    // The limits follow the variables tests lower.
    ProgramTimeLimit = 5;
    ExtractorTimeLimit = 7;
    EXPECT_EQ(RunnerSetupFor(ProgramRunner).TimeLimit, 5UL);
    EXPECT_EQ(RunnerSetupFor(ExtractorRunner).TimeLimit, 7UL);
    ProgramTimeLimit = 2080000;
    ExtractorTimeLimit = 360000;
}

TEST(DecideTreeEntry, EntersEveryDirectoryButLinksAndNeverUsesACutPath) {
    const std::string dir = "C:\\t";
    struct Case {
        std::string name;
        unsigned long attributes;
        TreeEntryAction action;
    } cases[] = {
        {".", FILE_ATTRIBUTE_DIRECTORY, LeaveTreeEntry},
        {"..", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN, LeaveTreeEntry},
        {".", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY, LeaveTreeEntry},
        {"sub", FILE_ATTRIBUTE_DIRECTORY, EnterTreeEntry},
        {"...", FILE_ATTRIBUTE_DIRECTORY, EnterTreeEntry},
        // Whatever else a directory carries: read-only, and what it takes on
        // from a compressed, not indexed or encrypted parent.
        {"sub", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE, EnterTreeEntry},
        {"sub", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN, EnterTreeEntry},
        {"sub", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM, EnterTreeEntry},
        {"sub", 0x11, EnterTreeEntry},
        {"sub", 0x810, EnterTreeEntry},
        {"sub", 0x2010, EnterTreeEntry},
        {"sub", 0x4010, EnterTreeEntry},
        // Links go as links: never entered, never given other attributes.
        {"link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, RemoveTreeLink},
        {"link", 0x411, RemoveTreeLink},
        {"link", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE, DeleteTreeLink},
        {"link", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY, DeleteTreeLink},
        {"a.txt", FILE_ATTRIBUTE_ARCHIVE, DeleteTreeFile},
        {"a.txt", FILE_ATTRIBUTE_READONLY, DeleteTreeFile},
        {"a.txt", FILE_ATTRIBUTE_NORMAL, DeleteTreeFile},
        {".hidden", FILE_ATTRIBUTE_HIDDEN, DeleteTreeFile},
        // What the ANSI listing makes of fullwidth solidi and colons: names
        // that would reach outside the entry.
        {"..\\victim.txt", FILE_ATTRIBUTE_ARCHIVE, LeaveTreeEntry},
        {"x\\..\\..\\keep", FILE_ATTRIBUTE_DIRECTORY, LeaveTreeEntry},
        {"../up", FILE_ATTRIBUTE_ARCHIVE, LeaveTreeEntry},
        {"C:", FILE_ATTRIBUTE_DIRECTORY, LeaveTreeEntry},
        {"?.txt", FILE_ATTRIBUTE_ARCHIVE, LeaveTreeEntry},
        {"", FILE_ATTRIBUTE_ARCHIVE, LeaveTreeEntry},
        // "C:\t\" plus the name: 259 characters fit a 260-byte buffer, 260 do not.
        {std::string(254, 'f'), FILE_ATTRIBUTE_ARCHIVE, DeleteTreeFile},
        {std::string(255, 'f'), FILE_ATTRIBUTE_ARCHIVE, LeaveTreeEntry},
        {std::string(255, 'd'), FILE_ATTRIBUTE_DIRECTORY, LeaveTreeEntry},
    };
    for (const Case& c : cases) {
        char path[260];
        SCOPED_TRACE(c.name + " " + std::to_string(c.attributes));
        EXPECT_EQ(DecideTreeEntry(dir.c_str(), c.name.c_str(), c.attributes, path, sizeof path), c.action);
        if (c.action != LeaveTreeEntry) {
            EXPECT_EQ(std::string(path), dir + "\\" + c.name);
        }
    }
}

// What the working directory must be once opened: a directory, not a link.
TEST(IsPlainDirectory, TakesDirectoriesWithoutTheReparsePointBitOnly) {
    EXPECT_EQ(IsPlainDirectory(FILE_ATTRIBUTE_DIRECTORY), 1);
    EXPECT_EQ(IsPlainDirectory(0x2010), 1);
    EXPECT_EQ(IsPlainDirectory(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), 0);
    EXPECT_EQ(IsPlainDirectory(FILE_ATTRIBUTE_ARCHIVE), 0);
    EXPECT_EQ(IsPlainDirectory(FILE_ATTRIBUTE_REPARSE_POINT), 0);
    EXPECT_EQ(IsPlainDirectory(INVALID_FILE_ATTRIBUTES), 0);
}

TEST(ComposeRemovalText, SaysRemovedOrNamesTheFirstEntryLeft) {
    char text[64];
    EXPECT_EQ(ComposeRemovalText("C:\\T\\Q", 0, "", text, sizeof text), 1);
    EXPECT_STREQ(text, "Removed: C:\\T\\Q");
    EXPECT_EQ(ComposeRemovalText("C:\\T\\Q", 4, "data\\held.txt", text, sizeof text), 1);
    EXPECT_STREQ(text, "Not removed: C:\\T\\Q\\data\\held.txt and 3 more");
    EXPECT_EQ(ComposeRemovalText("C:\\T\\Q", 1, "", text, sizeof text), 1);
    EXPECT_STREQ(text, "Not removed: C:\\T\\Q\\ and 0 more");
    EXPECT_EQ(ComposeRemovalText("C:\\T\\Q", 1, "", text, 8), 0);
}

TEST(MayEmptyTreeRoot, RefusesLinksAndMissingRoots) {
    EXPECT_EQ(MayEmptyTreeRoot(FILE_ATTRIBUTE_DIRECTORY), 1);
    EXPECT_EQ(MayEmptyTreeRoot(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), 1);
    EXPECT_EQ(MayEmptyTreeRoot(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), 0);
    EXPECT_EQ(MayEmptyTreeRoot(INVALID_FILE_ATTRIBUTES), 0);
}

namespace {

std::basic_string<WideChar> WideOf(const std::string& text) {
    return std::basic_string<WideChar>(text.begin(), text.end());
}

std::string AsciiOf(const WideChar* text) {
    std::string ascii;
    for (; *text != 0; ++text) {
        ascii += static_cast<char>(*text);
    }
    return ascii;
}

}  // namespace

// The wide removal reaches past MAX_PATH through the "\\?\" form; a wrong
// form names another file, or none.
TEST(LongTreePath, PrefixesDriveAndNetworkPathsOnce) {
    const struct {
        const char* full;
        const char* form;
    } cases[] = {
        {"C:\\t\\QUILLER", "\\\\?\\C:\\t\\QUILLER"},
        {"\\\\server\\share\\t\\QUILLER", "\\\\?\\UNC\\server\\share\\t\\QUILLER"},
        {"\\\\?\\C:\\t\\QUILLER", "\\\\?\\C:\\t\\QUILLER"},
        {"\\\\.\\C:\\t", "\\\\.\\C:\\t"},
    };
    for (const auto& c : cases) {
        WideChar path[64];
        EXPECT_EQ(LongTreePath(WideOf(c.full).c_str(), path, 64), strlen(c.form)) << c.full;
        EXPECT_EQ(AsciiOf(path), c.form);
    }
    // Room for the path without its terminator, or for the prefix alone: nothing.
    WideChar small[17];
    EXPECT_EQ(LongTreePath(WideOf("C:\\t\\QUILLER").c_str(), small, 16), 0U);
    EXPECT_EQ(LongTreePath(WideOf("\\\\server\\s").c_str(), small, 8), 0U);

    // Names are appended and cut off again within the buffer.
    WideChar tree[20];
    size_t length = LongTreePath(WideOf("C:\\t").c_str(), tree, 20);
    size_t entry = AppendTreeName(tree, length, WideOf("name.txt").c_str(), 20);
    EXPECT_EQ(AsciiOf(tree), "\\\\?\\C:\\t\\name.txt");
    EXPECT_EQ(entry, 17U);
    EXPECT_EQ(AppendTreeName(tree, entry, WideOf("xy").c_str(), 20), 0U);
    EXPECT_EQ(AsciiOf(tree), "\\\\?\\C:\\t\\name.txt");
}

// The processes a child started that carry on the installation: those whose
// program lies in the working directory or a temporary directory, at any
// depth, and the Windows Installer client; not the installed application.
TEST(LiesInInstallationLocation, WorkingAndTemporaryDirectoriesAndTheInstallerClient) {
    const InstallationLocations locations = {
        {"C:\\WINDOWS\\Temp", "C:\\DOCUME~1\\ADMIN\\Temp\\QUILLER", "C:\\Users\\a\\AppData\\Local\\Temp\\"}};
    const struct {
        const char* program;
        int lies;
    } cases[] = {
        {"C:\\DOCUME~1\\ADMIN\\Temp\\QUILLER\\SETUP.EXE", 1},
        {"c:\\docume~1\\admin\\temp\\quiller\\engine\\engine.exe", 1},
        {"C:\\Users\\a\\AppData\\Local\\Temp\\boot-42.exe", 1},
        {"C:\\Windows\\TEMP\\{1234}\\setup.exe", 1},
        {"C:\\WINDOWS\\system32\\msiexec.exe", 1},
        {"D:\\elsewhere\\MsiExec.EXE", 1},
        // A sibling whose name only starts like a location is elsewhere.
        {"C:\\DOCUME~1\\ADMIN\\Temp\\QUILLER-1\\SETUP.EXE", 0},
        {"C:\\WINDOWS\\Temporary\\a.exe", 0},
        {"C:\\Program Files\\App\\app.exe", 0},
        {"C:\\WINDOWS\\system32\\msiexec.exe.bak", 0},
        {"C:\\WINDOWS\\system32\\xmsiexec.exe", 0},
        {"C:\\DOCUME~1", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LiesInInstallationLocation(c.program, locations), c.lies) << c.program;
    }
    // Every ASCII letter compares without regard to case, "z" too.
    const InstallationLocations zone = {{"C:\\Zone", nullptr, nullptr}};
    EXPECT_EQ(LiesInInstallationLocation("c:\\zONE\\a.exe", zone), 1);
    // An unknown location holds nothing.
    const InstallationLocations none = {{nullptr, "", nullptr}};
    EXPECT_EQ(LiesInInstallationLocation("C:\\a.exe", none), 0);
    EXPECT_STREQ(ProgramFileName("C:\\Temp\\boot.exe"), "boot.exe");
    EXPECT_STREQ(ProgramFileName("boot.exe"), "boot.exe");

    char text[96];
    EXPECT_EQ(DescribeRunTime(41234, text, sizeof text), 1);
    EXPECT_STREQ(text, "ran for 41.2 s");
    EXPECT_EQ(DescribeRanOn(2, 3050, "engine.exe, msiexec.exe", text, sizeof text), 1);
    EXPECT_STREQ(text, "2 processes it started ran on for 3.0 s: engine.exe, msiexec.exe");
    EXPECT_EQ(DescribeRanOn(1, 999, "boot.exe", text, sizeof text), 1);
    EXPECT_STREQ(text, "1 process it started ran on for 0.9 s: boot.exe");
    EXPECT_EQ(DescribeRanOn(1, 999, "boot.exe", text, 20), 0);
    EXPECT_EQ(DescribeRanOn(3, 1000, "a.exe", text, sizeof text), 1);
    EXPECT_STREQ(text, "3 processes it started ran on for 1.0 s: a.exe");
    EXPECT_EQ(DescribeRunTime(60000, text, sizeof text), 1);
    EXPECT_STREQ(text, "ran for 60.0 s");
}
