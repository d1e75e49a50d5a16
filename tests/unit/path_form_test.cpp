// The ANSI spelling of wide paths, over a model of code page 1252: Latin-1
// letters are themselves, 'ł' has the look-alike 'l', and every other letter
// becomes '?'. Short forms come from a small table, as from a volume.
#include <gtest/gtest.h>

#include <string>

#include "common/argument_string.h"
#include "common/path_form.h"
#include "common/run_state.h"
#include "launcher/option_search.h"

#ifdef _WIN32
#define WIDE(text) L##text
#else
#define WIDE(text) u##text
#endif

typedef std::basic_string<WideChar> WideText;

namespace {

int ModelToAnsi(const WideChar* wide, char* ansi, size_t size) {
    size_t length = 0;
    for (; wide[length] != 0; ++length) {
        if (length + 1 >= size) {
            return 0;
        }
        WideChar unit = wide[length];
        ansi[length] = static_cast<char>(unit < 0x100 ? unit : unit == 0x142 ? 'l' : '?');
    }
    ansi[length] = '\0';
    return 1;
}

int ModelToWide(const char* ansi, WideChar* wide, size_t size) {
    size_t length = 0;
    for (; ansi[length] != '\0'; ++length) {
        if (length + 1 >= size) {
            return 0;
        }
        wide[length] = static_cast<unsigned char>(ansi[length]);
    }
    wide[length] = 0;
    return 1;
}

// Short forms of the model volume; a volume without them gives the long name back.
const WideChar* const kShortForms[][2] = {
    {WIDE("C:\\tmp\\Rafał\\"), WIDE("C:\\tmp\\RAFA~1\\")},
    {WIDE("C:\\pkg\\Ђорђе\\setup.exe"), WIDE("C:\\pkg\\____~LRS\\setup.exe")},
    {WIDE("C:\\no-short-names\\Ђорђе"), WIDE("C:\\no-short-names\\Ђорђе")},
};

int ModelShortForm(const WideChar* path, WideChar* shortPath, size_t size) {
    for (const auto& row : kShortForms) {
        if (SameWideText(path, row[0]) != 0) {
            WideText found = row[1];
            if (found.size() + 1 > size) {
                return 0;
            }
            std::copy(found.begin(), found.end() + 1, shortPath);
            return 1;
        }
    }
    return 0;
}

const PathCodec kModel = {ModelToAnsi, ModelToWide, ModelShortForm};

std::string Spell(const WideText& path, PathForm expected, size_t size = PathBufferSize) {
    char ansi[PathBufferSize] = "not written";
    EXPECT_EQ(ChooseAnsiForm(path.c_str(), kModel, ansi, size), expected);
    return ansi;
}

}  // namespace

TEST(ChooseAnsiForm, KeepsASpellingThatRoundTripsAndNeverALookAlike) {
    // Round trips, Latin-1 letters included: byte for byte as the ANSI functions give it.
    EXPECT_EQ(Spell(WIDE("C:\\Users\\José\\Temp\\"), SameSpelling), "C:\\Users\\Jos\xE9\\Temp\\");
    // 'ł' would come out as "Rafal", another directory: the short form instead.
    EXPECT_EQ(Spell(WIDE("C:\\tmp\\Rafał\\"), ShortSpelling), "C:\\tmp\\RAFA~1\\");
    EXPECT_EQ(Spell(WIDE("C:\\pkg\\Ђорђе\\setup.exe"), ShortSpelling), "C:\\pkg\\____~LRS\\setup.exe");
    // No short form, or one that is the long name again: no spelling at all.
    EXPECT_EQ(Spell(WIDE("C:\\gone\\Ђорђе"), NoUsableForm), "");
    EXPECT_EQ(Spell(WIDE("C:\\no-short-names\\Ђорђе"), NoUsableForm), "");
    EXPECT_EQ(Spell(WIDE(""), NoUsableForm), "");
}

TEST(ChooseAnsiForm, AFormMustFitWhole) {
    // The short form may fit where the name itself does not.
    EXPECT_EQ(Spell(WIDE("C:\\tmp\\Rafał\\"), ShortSpelling, 15), "C:\\tmp\\RAFA~1\\");
    EXPECT_EQ(Spell(WIDE("C:\\tmp\\Rafał\\"), NoUsableForm, 14), "");
    EXPECT_EQ(Spell(WIDE("C:\\ok"), SameSpelling, 6), "C:\\ok");
    EXPECT_EQ(Spell(WIDE("C:\\ok"), NoUsableForm, 5), "");
}

TEST(WideDestination, NamesTheDirectoryAsTheAnsiValueWould) {
    const struct {
        const WideChar* option;
        const WideChar* directory;  // nullptr: no directory
    } rows[] = {
        {WIDE("Ђорђе"), WIDE("C:\\Ђорђе")},
        {WIDE("D:\\Rafał"), WIDE("D:\\Rafał")},
        {WIDE("\"C:\\Мой каталог\""), WIDE("C:\\Мой каталог")},
        {WIDE("\"\""), nullptr},
    };
    for (const auto& row : rows) {
        WideChar directory[PathBufferSize] = {'x', 0};
        EXPECT_EQ(WideDestination(row.option, directory, PathBufferSize), row.directory != nullptr ? 1 : 0);
        EXPECT_EQ(WideText(directory), WideText(row.directory != nullptr ? row.directory : WIDE("")));
    }
    // One unit too long for the buffer with C:\ before it: none at all.
    WideText value(PathBufferSize - 3, 0x416);
    WideChar directory[PathBufferSize];
    EXPECT_EQ(WideDestination(value.c_str(), directory, PathBufferSize), 0);
    EXPECT_EQ(directory[0], 0);
}

TEST(WideCommandLine, ReadsOptionsAsTheAnsiCopyDoes) {
    // The wide copy serves when the ANSI one misspells: same rules, same values.
    const WideChar* arguments =
        SkipProgramName(WIDE("\"C:\\pkg\\Ђорђе\\setup.exe\"  -dC:\\Ђорђе\\My-Data -s"));
    EXPECT_EQ(WideText(arguments), WideText(WIDE("-dC:\\Ђорђе\\My-Data -s")));
    WideChar value[PathBufferSize] = {};
    EXPECT_EQ(FindOption(arguments, 'D', value), 1);
    EXPECT_EQ(WideText(value), WideText(WIDE("ata")));  // "-D" inside the path is found first
    EXPECT_EQ(FindOption(arguments, 'S', nullptr), 1);
    EXPECT_EQ(FindOption(arguments, 'H', nullptr), 0);
    EXPECT_EQ(OptionValueRunsToEnd(WIDE("-s -d\"C:\\Мой каталог\""), 'D'), 1);
}
