// The argument string handed to WinMain, split off the process command line.
#include <gtest/gtest.h>

#include "common/argument_string.h"

TEST(SkipProgramName, SplitsLikeTheRuntime) {
    struct Case {
        const char* commandLine;
        const char* arguments;
    };
    const Case cases[] = {
        {"setup.exe -s -dC:\\out", "-s -dC:\\out"},
        {"\"C:\\Install Files\\setup.exe\" -s", "-s"},
        {"\"C:\\Install Files\\setup.exe\"-s", "-s"},  // no blank after the closing quote
        {"C:\\pkg\\setup.exe", ""},
        {"C:\\pkg\\setup.exe   \t -h  ", "-h  "},  // trailing blanks stay
        {"\"C:\\unterminated -s", ""},             // an open quote runs to the end
        {"", ""},
        {"setup.exe\t/h", "/h"},
        {"setup.exe -d\"C:\\a b\"", "-d\"C:\\a b\""},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(SkipProgramName(c.commandLine), c.arguments) << c.commandLine;
    }
}
