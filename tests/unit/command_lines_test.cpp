// The working directory and the child programs' command lines: exact texts,
// quoting only where a path has a space, and 260-byte buffers at their edges.
#include <gtest/gtest.h>

#include <string>

#include "common/run_state.h"
#include "install/command_lines.h"

namespace {

// A directory of exactly length characters: "C:\" and then x's.
std::string DirectoryOfLength(size_t length) {
    return "C:\\" + std::string(length - 3, 'x');
}

}  // namespace

TEST(ChooseDestination, TemporaryColonAndDriveCRules) {
    const struct {
        const char* option;
        const char* tempPath;
        const char* expected;
        int temporary;
    } cases[] = {
        {"", "C:\\users\\me\\Temp\\", "C:\\users\\me\\Temp\\QUILLER", 1},
        {"", "C:\\Temp Dir\\", "C:\\Temp Dir\\QUILLER", 1},
        {"pkgout", "C:\\unused\\", "C:\\pkgout", 0},
        {"sub\\dir", nullptr, "C:\\sub\\dir", 0},
        {"D:\\out", nullptr, "D:\\out", 0},
        {"out:x", nullptr, "out:x", 0},  // a colon anywhere keeps the value as it is
        // Double quotes, which a value with spaces comes in, are left out.
        {"\"C:\\My Out\"", nullptr, "C:\\My Out", 0},
        {"\"my out\"", nullptr, "C:\\my out", 0},
        {"C:\\\"My Out\"\\x", nullptr, "C:\\My Out\\x", 0},
        {"\"C:\\open quote", nullptr, "C:\\open quote", 0},
        {"\"\"", "C:\\T\\", "C:\\T\\QUILLER", 1},  // nothing but quotes: as if empty
    };
    for (const auto& c : cases) {
        char destination[PathBufferSize];
        int temporary = -1;
        EXPECT_EQ(ChooseDestination(c.option, c.tempPath, destination, sizeof destination, &temporary), 1)
            << c.option;
        EXPECT_STREQ(destination, c.expected);
        EXPECT_EQ(temporary, c.temporary) << c.option;
    }

    // Without a temporary path there is no working directory to offer.
    char destination[PathBufferSize];
    int temporary = 0;
    EXPECT_EQ(ChooseDestination("", nullptr, destination, sizeof destination, &temporary), 0);
    EXPECT_STREQ(destination, "");
}

TEST(ComposeWorkingDirectory, QuillerAndEightHexDigitsWithinTheBuffer) {
    char destination[32];
    EXPECT_EQ(ComposeWorkingDirectory("C:\\T\\", 0x0A1B2C3DUL, destination, sizeof destination), 1);
    EXPECT_STREQ(destination, "C:\\T\\QUILLER-0A1B2C3D");
    EXPECT_EQ(ComposeWorkingDirectory("C:\\T\\", 0xFFFFFFFFUL, destination, sizeof destination), 1);
    EXPECT_STREQ(destination, "C:\\T\\QUILLER-FFFFFFFF");
    // 20 characters need 21 bytes.
    EXPECT_EQ(ComposeWorkingDirectory("C:\\T\\", 0, destination, 20), 0);
}

TEST(ChooseDestination, FitsUpTo259Characters) {
    for (size_t length : {259U, 260U, 261U}) {
        const int fits = length == 259 ? 1 : 0;
        char destination[PathBufferSize];
        int temporary = 0;
        std::string temp = DirectoryOfLength(length - 7 - 1) + "\\";
        EXPECT_EQ(ChooseDestination("", temp.c_str(), destination, sizeof destination, &temporary), fits)
            << length;
        std::string relative(length - 3, 'r');
        EXPECT_EQ(ChooseDestination(relative.c_str(), nullptr, destination, sizeof destination, &temporary),
                  fits)
            << length;
        if (fits != 0) {
            EXPECT_EQ(std::string(destination), "C:\\" + relative);
        }
    }
}

TEST(ComposeExtractorCommand, FiveTokensQuotedWhereSpaces) {
    const struct {
        const char* source;
        const char* destination;
        const char* expected;
    } cases[] = {
        {"C:\\pkg", "C:\\out", "C:\\pkg\\unzip.exe -o \"C:\\pkg\\package.zip\" -d C:\\out"},
        {"C:\\pkg dir", "C:\\out", "\"C:\\pkg dir\\unzip.exe\" -o \"C:\\pkg dir\\package.zip\" -d C:\\out"},
        {"C:\\pkg", "C:\\Temp Dir\\QUILLER",
         "C:\\pkg\\unzip.exe -o \"C:\\pkg\\package.zip\" -d \"C:\\Temp Dir\\QUILLER\""},
        {"C:\\pkg", "\"C:\\My Out\"", "C:\\pkg\\unzip.exe -o \"C:\\pkg\\package.zip\" -d \"C:\\My Out\""},
        {"C:\\", "C:\\out", "C:\\\\unzip.exe -o \"C:\\\\package.zip\" -d C:\\out"},
        // A quoted destination ending in backslashes doubles them, so that the
        // extractor does not read the closing quote as a quote character.
        {"C:\\pkg", "C:\\My Out\\", "C:\\pkg\\unzip.exe -o \"C:\\pkg\\package.zip\" -d \"C:\\My Out\\\\\""},
        {"C:\\pkg", "C:\\out\\", "C:\\pkg\\unzip.exe -o \"C:\\pkg\\package.zip\" -d C:\\out\\"},
    };
    for (const auto& c : cases) {
        char commandLine[PathBufferSize];
        EXPECT_EQ(ComposeExtractorCommand(c.source, c.destination, commandLine, sizeof commandLine), 1);
        EXPECT_STREQ(commandLine, c.expected);
    }

    // With the source C:\pkg, everything but the destination takes 44 characters.
    for (size_t length : {259U, 260U, 261U}) {
        char commandLine[PathBufferSize];
        std::string destination = DirectoryOfLength(length - 44);
        EXPECT_EQ(ComposeExtractorCommand("C:\\pkg", destination.c_str(), commandLine, sizeof commandLine),
                  length == 259 ? 1 : 0)
            << length;
    }
}

TEST(ComposeInstallerCommand, ThreeModesQuotedWhereSpaces) {
    const struct {
        const char* destination;
        int silent;
        int msiTag;
        const char* expected;
    } cases[] = {
        {"C:\\out", 0, 0, "C:\\out\\SETUP.EXE"},
        {"C:\\out", 0, 1, "C:\\out\\SETUP.EXE"},  // the tag only matters when silent
        {"C:\\out", 1, 0, "C:\\out\\SETUP.EXE -s -SMS"},
        {"C:\\out", 1, 1, "C:\\out\\SETUP.EXE /qn REBOOT=ReallySuppress"},
        {"C:\\Temp Dir\\QUILLER", 0, 0, "\"C:\\Temp Dir\\QUILLER\\SETUP.EXE\""},
        {"C:\\Temp Dir\\QUILLER", 1, 0, "\"C:\\Temp Dir\\QUILLER\\SETUP.EXE\" -s -SMS"},
        {"C:\\Temp Dir\\QUILLER", 1, 1, "\"C:\\Temp Dir\\QUILLER\\SETUP.EXE\" /qn REBOOT=ReallySuppress"},
        {"\"C:\\My Out\"", 0, 0, "\"C:\\My Out\"\\SETUP.EXE"},
    };
    for (const auto& c : cases) {
        char commandLine[PathBufferSize];
        EXPECT_EQ(ComposeInstallerCommand(c.destination, c.silent, c.msiTag, commandLine, sizeof commandLine),
                  1);
        EXPECT_STREQ(commandLine, c.expected);
    }

    for (size_t length : {259U, 260U, 261U}) {
        char commandLine[PathBufferSize];
        std::string destination = DirectoryOfLength(length - 10 - 26);
        EXPECT_EQ(ComposeInstallerCommand(destination.c_str(), 1, 1, commandLine, sizeof commandLine),
                  length == 259 ? 1 : 0)
            << length;
    }
}

TEST(ComposePostProcess, PathPlainCommandQuotedWhereSpaces) {
    char path[PathBufferSize];
    char commandLine[PathBufferSize];
    EXPECT_EQ(ComposePostProcess("C:\\out", path, sizeof path, commandLine, sizeof commandLine), 1);
    EXPECT_STREQ(path, "C:\\out\\PostProcess.cmd");
    EXPECT_STREQ(commandLine, "C:\\out\\PostProcess.cmd");
    EXPECT_EQ(ComposePostProcess("C:\\a b", path, sizeof path, commandLine, sizeof commandLine), 1);
    EXPECT_STREQ(path, "C:\\a b\\PostProcess.cmd");
    EXPECT_STREQ(commandLine, "\"C:\\a b\\PostProcess.cmd\"");

    // Without spaces path and command line are the same length.
    for (size_t length : {259U, 260U, 261U}) {
        std::string destination = DirectoryOfLength(length - 16);
        EXPECT_EQ(ComposePostProcess(destination.c_str(), path, sizeof path, commandLine, sizeof commandLine),
                  length == 259 ? 1 : 0)
            << length;
    }
    // A path that fits is not enough when its quoted command line does not.
    std::string spaced = "C:\\a b" + std::string(259 - 16 - 6, 'x');
    EXPECT_EQ(ComposePostProcess(spaced.c_str(), path, sizeof path, commandLine, sizeof commandLine), 0);
}

TEST(DirectoryHolds, TheSameDirectoryOrOneAboveInAnyCase) {
    const struct {
        const char* outer;
        const char* inner;
        int holds;
    } cases[] = {
        // clang-format off
        {"C:\\pkg", "C:\\pkg", 1},
        {"c:\\PKG\\", "C:\\pkg", 1},
        {"C:\\pkg", "C:\\pkg\\", 1},
        {"C:\\", "C:\\pkg", 1},
        {"\\", "\\pkg", 1},
        {"C:\\a", "C:\\A\\pkg", 1},
        {"C:\\a\\\\", "C:\\a\\pkg", 1},
        {"C:\\az", "C:\\AZ", 1},
        {"C:\\pkg", "C:\\pkg2", 0},
        {"C:\\pkg2", "C:\\pkg", 0},
        {"C:\\pkg\\sub", "C:\\pkg", 0},
        {"D:\\", "C:\\pkg", 0},
        {"C:\\p\xC9", "C:\\p\xE9", 0},  // only ASCII letters fold
        {"C:\\[", "C:\\{", 0},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DirectoryHolds(c.outer, c.inner), c.holds) << c.outer << " " << c.inner;
    }
}
