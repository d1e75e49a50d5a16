// Names in an installer folder as Windows and UnZip will hold them: the
// names Windows refuses, names that differ only in case, and the ANSI code
// pages that spell a name.
#pragma once

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
