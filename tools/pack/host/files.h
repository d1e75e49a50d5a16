// The file-system work of the packaging tool, on Linux and Windows alike.
#pragma once

#include <stdint.h>
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

#ifdef _WIN32
// UTF-8 to UTF-16 for the wide functions, and back.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* wide, int length);
#endif

// Positions past 2 GiB, where long has 32 bits (Windows, i686): seeks to
// offset; the file's size; reads or writes exactly size bytes at offset.
bool SeekTo(FILE* file, uint64_t offset);
bool FileSize(FILE* file, uint64_t& size);
bool ReadAt(FILE* file, uint64_t offset, unsigned char* bytes, size_t size);
bool WriteAt(FILE* file, uint64_t offset, const unsigned char* bytes, size_t size);

// Reads the whole file; on failure error says why ("No such file or directory").
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);

// Replaces the file's contents with bytes through a temporary file in the
// same directory and a rename, keeping its permissions: the file is either
// wholly old or wholly new, and nothing is left behind on failure.
bool ReplaceFileContents(const std::string& path, const std::string& bytes, std::string& error);

// Creates path as a new file (never through an existing name or a link
// there) holding bytes; false with error set, and nothing left, when it
// cannot.
bool WriteNewFile(const std::string& path, const std::string& bytes, std::string& error);

// A new directory beside path (given without a trailing separator), named
// after it: path.SUFFIX-N, the first N
// free (creating a directory is the test, so two runs never share one),
// open to its owner only; "" when none can be made.
std::string NewDirectoryBeside(const std::string& path, const char* suffix);

bool IsDirectory(const std::string& path);
// A symbolic link, or on Windows a junction or mount point: a name that
// leads elsewhere. Never followed. Other reparse points (deduplicated or
// cloud files) are not links.
bool IsLink(const std::string& path);
// A regular file reached by its own name, not through a link.
bool IsPlainFile(const std::string& path);
bool IsRegularFile(const std::string& path);

// The names in a directory (not "." and ".."); false when it cannot be read.
bool ListDirectory(const std::string& path, std::vector<std::string>& names);

std::string JoinPath(const std::string& directory, const std::string& name);
std::string ParentDirectory(const std::string& path);

// The directory the running program was started from (its executable's
// directory), or "" when it cannot be told.
std::string ProgramDirectory();

// The text as the ANSI code page spells it exactly (on Windows; unchanged
// elsewhere), or "" when that code page does not spell it.
std::string ExactAnsiSpelling(const std::string& utf8);

// The path as the ANSI code page spells it exactly (on Windows; unchanged
// elsewhere), else the short form of an existing path, else "".
std::string AnsiSpelling(const std::string& utf8);
