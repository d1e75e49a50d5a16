// A zip archive on disk: its end record and central directory read, the
// entry names taken from it, and the whole archive normalized in place so
// that the same files give the same bytes.
#pragma once

#include <string>
#include <vector>

// Gives every entry of a zip archive the same time stamp and drops the
// archive bit from its attributes, so that the same files give the same
// bytes; false with error set when the archive cannot be read or written
// (or needs Zip64 records, which this does not rewrite).
bool NormalizeArchive(const std::string& archive, std::string& error);

// The entry names of a zip archive as its central directory holds them (a
// name's UTF-8 form where an extra field gives one), whatever the code page
// of the system reading it; false with error set when it cannot be read.
bool ReadArchiveNames(const std::string& archive, std::vector<std::string>& names, std::string& error);
