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

// The code pages among 1252, 1250, 1251, 932 and 936 that spell the UTF-8
// name exactly, as "1252, 1250"; "" when none does.
std::string CodePagesSpelling(const std::string& utf8);
