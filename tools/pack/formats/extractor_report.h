// What the extractor prints about an archive: its listing (-Z1, one name a
// line) and its test report (-t, one "testing: NAME ... OK" line an entry).
#pragma once

#include <string>
#include <vector>

// The names of a -Z1 listing, one a line, CR LF or LF; none for an archive
// without entries, which zipinfo reports as "Empty zipfile.".
std::vector<std::string> ListingNames(const std::string& listing);

// The entries whose line in the extractor's test report ("testing: NAME"
// and then "OK" or what is wrong) does not end in OK, in report order.
std::vector<std::string> EntriesFailingTest(const std::string& report,
                                            const std::vector<std::string>& entries);
