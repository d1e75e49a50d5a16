// The extractor's listing and test report, read line by line.
#include "tools/pack/formats/extractor_report.h"

#include <sstream>

std::vector<std::string> ListingNames(const std::string& listing) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        end = end == std::string::npos ? listing.size() : end;
        std::string line = listing.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        names.push_back(line);
        start = end + 1;
    }
    // zipinfo reports an archive without entries on standard output.
    if (names.size() == 1 && names[0] == "Empty zipfile.") {
        names.clear();
    }
    return names;
}

// The entry that a "testing: " line names: the longest one the rest of the
// line starts with, followed by a blank or the end of the line.
static std::string EntryOfLine(const std::string& rest, const std::vector<std::string>& entries) {
    std::string found;
    for (const std::string& entry : entries) {
        const bool named = rest.compare(0, entry.size(), entry) == 0 &&
                           (rest.size() == entry.size() || rest[entry.size()] == ' ');
        if (named && entry.size() > found.size()) {
            found = entry;
        }
    }
    return found;
}

std::vector<std::string> EntriesFailingTest(const std::string& report,
                                            const std::vector<std::string>& entries) {
    static const char Marker[] = "testing: ";
    std::vector<std::string> failed;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        const size_t at = line.find(Marker);
        if (at == std::string::npos) {
            continue;
        }
        const std::string rest = line.substr(at + sizeof Marker - 1);
        const size_t blank = rest.rfind(' ');
        if (blank != std::string::npos && rest.compare(blank + 1, std::string::npos, "OK") == 0) {
            continue;
        }
        const std::string entry = EntryOfLine(rest, entries);
        failed.push_back(entry.empty() ? rest : entry);
    }
    return failed;
}
