// The extractor that reads package.zip for the checks: Info-ZIP UnZip, the
// system's unzip on Linux, on Windows the unzip.exe beside pack.exe (the
// kit's own), never the checked package's.
#pragma once

#include <string>
#include <vector>

// Lists the archive's entry names in zipinfo mode (-Z1). The extractor's
// own messages go to standard error as they come. Returns the extractor's
// exit status (0, or 1 for warnings, means names is the listing), or -1
// when it could not be started.
int ListArchive(const std::string& packageDirectory, const std::string& archive,
                std::vector<std::string>& names);

// Tests every entry's data with the same extractor (-t: each entry
// extracted to nowhere and its CRC compared); report is what it printed on
// standard output, one "testing: NAME ... OK" line per entry. Returns its
// exit status, or -1 when it could not be started.
int TestArchive(const std::string& packageDirectory, const std::string& archive, std::string& report);

// What ListArchive runs, for messages: "unzip", or pack.exe's folder's
// unzip.exe.
std::string ArchiveLister(const std::string& packageDirectory);
