// The installer folder that pack build packs: its files walked, every name
// checked as Windows and the extractor will hold it, before anything is written.
#pragma once

#include <string>
#include <vector>

// The installer folder's files, as archive paths with '/' in the byte order
// of their UTF-8 names, each spelled as zip.exe reads it (in the ANSI code
// page; on Linux as it is).
struct InstallerFiles {
    std::vector<std::string> AnsiPaths;
    std::vector<std::string> EmptyDirectories;
};

// Walks the folder root: refuses (saying why, for every path at fault)
// links and anything else that is not a regular file or a directory, names
// Windows cannot hold, names no code page spells (or, on Windows, the ANSI
// code page does not), names that differ only in case, files it cannot
// read, and paths too long under the working directory; on Windows also a
// name outside ASCII where the archive may need Zip64 records, which the
// rewrite of zip.exe's names does not write. All before anything is compressed.
bool ListInstallerFiles(const std::string& root, InstallerFiles& files);
