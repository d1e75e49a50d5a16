// The packaging tool's commands. Each returns the process exit status:
// 0 done (check: no errors), 1 refused or errors found; reports go to
// standard output, errors and warnings to standard error.
#pragma once

#include <string>
#include <vector>

// Appends the tags that the executable's tail does not show yet.
// The report calls the executable shownAs when that is given.
int StampTags(const std::string& executable, const std::vector<std::string>& tags,
              const std::string& shownAs = "");

// What the launcher will see of a package directory or executable, and the
// executables' signatures (their chains checked against ca when given).
int ShowPackage(const std::string& target, const std::string& ca = "");

// Checks a package directory for what the launcher and the extractor need;
// the report calls it shownAs when that is given; signatures' chains are
// checked against the CA certificates in ca when given.
int CheckPackage(const std::string& directory, const std::string& shownAs = "", const std::string& ca = "");

// true when every name is a tag that can be stamped; else says why not.
bool CheckTagNames(const std::vector<std::string>& tags);

// true when an archive path, extracted under TypicalWorkingDirectory, would
// pass MAX_PATH.
bool TooLongForWorkingDirectory(const std::string& entry);

// The working directory path the long-name check assumes, for the usage text.
extern const char TypicalWorkingDirectory[];
