// Option search: substring matching across token boundaries, pattern order, value extent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/run_state.h"
#include "launcher/option_search.h"

// The value as FindOption leaves it in a zero-filled buffer, or "<absent>".
static std::string ValueOf(const std::string& commandLine, char letter) {
    char value[PathBufferSize] = {};
    if (FindOption(commandLine.c_str(), letter, value) == 0) {
        return "<absent>";
    }
    return value;
}

TEST(FindOption, PresenceIgnoresTokenBoundaries) {
    const struct {
        const char* commandLine;
        char letter;
        int present;
    } rows[] = {
        {"-h", 'H', 1},
        {"-H", 'H', 1},
        {"/h", 'H', 1},
        {"/H", 'H', 1},
        {"/?", 'H', 0},
        {"-s -dC:\\out /h", 'H', 1},
        {"-dC:\\a-h", 'H', 1},        // inside a path
        {"-dC:\\pkg-store", 'S', 1},  // "-s" inside a path
        {"-dC:\\pkg-store", 'H', 0},
        {"h s d", 'S', 0},  // letters without a prefix
        {"--s", 'S', 1},
        {"", 'S', 0},
        {"-", 'S', 0},
        {"foo/dbar", 'D', 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FindOption(row.commandLine, row.letter, nullptr), row.present)
            << row.commandLine << " letter " << row.letter;
    }
}

// Where the option was found, for the log: its first character, counted from
// 1, in the ANSI copy and the wide one alike.
TEST(FindOption, PositionOfThePatternFound) {
    const struct {
        const char* commandLine;
        char letter;
        int position;
    } rows[] = {
        {"-h", 'H', 1},
        {"-s -d\"C:\\Program Files\\Web-Host\"", 'H', 27},
        {"/h -H", 'H', 4},  // "-H" is searched first
        {"-dC:\\a", 'H', 0},
    };
    for (const auto& row : rows) {
        WideChar wide[64] = {};
        for (size_t i = 0; row.commandLine[i] != '\0'; ++i) {
            wide[i] = static_cast<WideChar>(row.commandLine[i]);
        }
        EXPECT_EQ(OptionPosition(row.commandLine, row.letter), row.position) << row.commandLine;
        EXPECT_EQ(OptionPosition(wide, row.letter), row.position) << row.commandLine;
    }
}

TEST(FindOption, ValueRunsToTheFirstSpaceOutsideQuotes) {
    const struct {
        const char* commandLine;
        const char* value;
    } rows[] = {
        {"-dC:\\out", "C:\\out"},
        {"-dC:\\out -s", "C:\\out"},
        {"-dC:\\out foo -s", "C:\\out"},
        {"-s -dC:\\out", "C:\\out"},
        {"-d C:\\out", ""},  // a space right after the letter
        {"-d", ""},
        {"-d\"C:\\My Files\\out\" -s", "\"C:\\My Files\\out\""},  // quotes kept
        {"-d\"C:\\open quote", "\"C:\\open quote"},               // unclosed: to the end
        {"-dC:\\My-Data", "ata"},                                 // "-D" inside the path wins
        {"/dC:\\out", "C:\\out"},
        {"-dC:\\x /DD:\\y", "C:\\x"},  // "-d" comes before "/D" in the search order
        {"/dC:\\x /DD:\\y", "D:\\y"},  // "/D" comes before "/d"
        {"-dC:\\a-b/c", "C:\\a-b/c"},  // option characters inside a value are kept
        {"-xyz", "<absent>"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ValueOf(row.commandLine, 'D'), row.value) << row.commandLine;
    }
}

TEST(FindOption, ValueStaysInsideItsBuffer) {
    // Longer than the buffer, as from a caller that passes a whole command line.
    std::string longLine = "-d" + std::string(1000, 'x');
    char value[PathBufferSize + 8];
    memset(value, '#', sizeof value);
    memset(value, 0, PathBufferSize);
    EXPECT_EQ(FindOption(longLine.c_str(), 'D', value), 1);
    EXPECT_EQ(std::string(value), std::string(PathBufferSize - 1, 'x'));
    EXPECT_EQ(std::string(value + PathBufferSize, 8), std::string(8, '#'));

    // The longest value a command-line copy can hold fits whole.
    std::string full = "-d" + std::string(PathBufferSize - 3, 'y');
    EXPECT_EQ(ValueOf(full, 'D'), std::string(PathBufferSize - 3, 'y'));
}

TEST(OptionValueRunsToEnd, TellsWhetherASpaceEndsTheValue) {
    EXPECT_EQ(OptionValueRunsToEnd("-dC:\\out", 'D'), 1);
    EXPECT_EQ(OptionValueRunsToEnd("-s -dC:\\out", 'D'), 1);
    EXPECT_EQ(OptionValueRunsToEnd("-dC:\\out -s", 'D'), 0);
    EXPECT_EQ(OptionValueRunsToEnd("-d\"C:\\a b", 'D'), 1);  // the space is inside quotes
    EXPECT_EQ(OptionValueRunsToEnd("-d\"C:\\a b\" ", 'D'), 0);
    EXPECT_EQ(OptionValueRunsToEnd("-s", 'D'), 0);  // absent
}
