// The executables' kinds from their PE headers, and the extractor's test
// report read entry by entry.
#include "tools/pack/package_faults.h"

#include <sstream>

static const uint16_t I386Machine = 0x14c;
static const uint32_t GuiSubsystem = 2;
static const uint32_t ConsoleSubsystem = 3;

std::string ExecutableKindProblem(const PeFacts& facts, bool console) {
    if (!facts.IsPe) {
        return "is not a Windows executable (no PE headers)";
    }
    if (facts.Machine != I386Machine) {
        return "is built for " + MachineName(facts.Machine) +
               ", not for 32-bit x86 (i386): 32-bit Windows cannot start it";
    }
    const uint32_t wanted = console ? ConsoleSubsystem : GuiSubsystem;
    if (facts.Subsystem != wanted) {
        return std::string("is not a ") + (console ? "console" : "GUI") + " program (subsystem " +
               std::to_string(facts.Subsystem) + ", expected " + std::to_string(wanted) + ")";
    }
    return "";
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
