// Names in an installer folder as Windows and UnZip will hold them: the
// names Windows refuses, names that differ only in case, the ANSI code
// pages that spell a name, and the paths too long under the working
// directory.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

// Why Windows cannot hold one path component (a reserved device name, a
// trailing dot or space, one of : * ? " < > | \, a control character), or
// why its letters cannot be told (not UTF-8); "" when it can.
std::string WindowsNameProblem(const std::string& component);

// The path with its letters folded to one case as Windows compares names
// (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic, fullwidth Latin).
std::string FoldCase(const std::string& utf8);

bool IsAscii(const std::string& text);

// The Windows ANSI code pages (874, 932, 936, 949, 950, 1250 to 1258) that
// spell the UTF-8 name exactly, as "936, 1250, 1252"; "" when none does.
std::string CodePagesSpelling(const std::string& utf8);

// What to tell about a name that CodePagesSpelling finds no code page for.
extern const char NoCodePageSpells[];

// The name in names that matches wanted ignoring ASCII case, as Windows
// compares file names, or "" when there is none.
std::string FindNameIgnoringCase(const std::vector<std::string>& names, const std::string& wanted);

// Windows' MAX_PATH, which counts the terminating zero.
extern const size_t MaxPath;

// The working directory path the long-name check assumes, for the usage text.
extern const char TypicalWorkingDirectory[];

// true when an archive path, extracted under TypicalWorkingDirectory, would
// pass MAX_PATH.
bool TooLongForWorkingDirectory(const std::string& entry);

// Whether a reparse point with this tag leads elsewhere: a name surrogate
// (a symbolic link, a junction or mount point, a WSL link), or a tag that is
// not Microsoft's, which is taken for the link it may be (so is Wine's
// unfilled one for a Unix link). Any other Microsoft tag (deduplicated,
// cloud placeholder, compressed files) is the file it holds.
bool ReparseTagIsLink(unsigned long tag);
