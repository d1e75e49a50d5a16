// The file-system and process work of the packaging tool, on Linux and Windows alike.
#pragma once

#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

// Paths are UTF-8 text throughout; these convert to and from the file
// system's own form (UTF-16 on Windows) and open files by their full name.
std::filesystem::path PathOf(const std::string& utf8);
std::string TextOf(const std::filesystem::path& path);
std::string GenericTextOf(const std::filesystem::path& path);  // with '/'
FILE* OpenFile(const std::string& utf8, const char* mode);

// Reads the whole file; on failure error says why ("No such file or directory").
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);

// Replaces the file's contents with bytes through a temporary file in the
// same directory and a rename, keeping its permissions: the file is either
// wholly old or wholly new, and nothing is left behind on failure.
bool ReplaceFileContents(const std::string& path, const std::string& bytes, std::string& error);

bool IsDirectory(const std::string& path);
// A symbolic link, or on Windows any reparse point (a junction, a mount
// point): a name that leads elsewhere. Never followed.
bool IsLink(const std::string& path);
// A regular file reached by its own name, not through a link.
bool IsPlainFile(const std::string& path);
bool IsRegularFile(const std::string& path);

// The names in a directory (not "." and ".."); false when it cannot be read.
bool ListDirectory(const std::string& path, std::vector<std::string>& names);

// The name in names that matches wanted ignoring ASCII case, as Windows
// compares file names, or "" when there is none.
std::string FindNameIgnoringCase(const std::vector<std::string>& names, const std::string& wanted);

std::string JoinPath(const std::string& directory, const std::string& name);
std::string ParentDirectory(const std::string& path);

// Lists the archive's entry names with Info-ZIP in zipinfo mode (-Z1): the
// system's unzip on Linux, the package's own unzip.exe on Windows. The
// extractor's own messages go to standard error as they come. Returns the
// extractor's exit status (0, or 1 for warnings, means names is the listing),
// or -1 when it could not be started.
int ListArchive(const std::string& packageDirectory, const std::string& archive,
                std::vector<std::string>& names);

// Tests every entry's data with the same extractor (-t: each entry
// extracted to nowhere and its CRC compared); report is what it printed on
// standard output, one "testing: NAME ... OK" line per entry. Returns its
// exit status, or -1 when it could not be started.
int TestArchive(const std::string& packageDirectory, const std::string& archive, std::string& report);

// What ListArchive runs, for messages: "unzip" or "<dir>\unzip.exe".
std::string ArchiveLister(const std::string& packageDirectory);

// The directory the running program was started from (its executable's
// directory), or "" when it cannot be told.
std::string ProgramDirectory();

// Runs program with args as a child process in directory, with input on its
// standard input; its output goes where this program's goes. Returns its
// exit status, or -1 when it could not be started. On Windows the child is
// started directly (no shell) with each argument quoted for the C runtime;
// program and args reach it in the ANSI code page, so a caller passes only
// text that code page spells (see AnsiSpelling).
int RunWithInput(const std::string& directory, const std::string& program,
                 const std::vector<std::string>& args, const std::string& input);

// The text as the ANSI code page spells it exactly (on Windows; unchanged
// elsewhere), or "" when that code page does not spell it.
std::string ExactAnsiSpelling(const std::string& utf8);

// The path as the ANSI code page spells it exactly (on Windows; unchanged
// elsewhere), else the short form of an existing path, else "".
std::string AnsiSpelling(const std::string& utf8);
