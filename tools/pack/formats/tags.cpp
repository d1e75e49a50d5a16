// The launcher's reading of a package, through the launcher's own tail scan
// and version table, so that the tool and the launcher cannot disagree.
#include "tools/pack/formats/tags.h"

#include <algorithm>

#include "launcher/tail_scan.h"
#include "launcher/version_table.h"

const char MsiTag[] = "msi.tag";
const char ExitCodeTag[] = "exitcode.tag";
const char LogTag[] = "log.tag";
const char DebugTag[] = "debug.tag";

const std::vector<VersionRow>& VersionRows() {
    // One sample per row of the classification. A 32-bit program on 64-bit
    // Windows is told architecture 0, so only a 64-bit setup.exe ever sees
    // the AMD64 row; and Windows 8.1 and later report 6.2 to programs
    // without a manifest, as setup.exe is, so they land on the 6.x row.
    static const std::vector<VersionRow> rows = {
        {"4", 4, 0, 0, "Windows NT 4.0; 95, 98 and Me report 4.x too"},
        {"5.0", 5, 0, 0, "Windows 2000"},
        {"5.1", 5, 1, 0, "Windows XP"},
        {"5.2 x64", 5, 2, 9, "XP x64, Server 2003 x64: for a 64-bit setup.exe only"},
        {"5.2 other", 5, 2, 0, "Server 2003; XP x64 and 2003 x64 for the 32-bit setup.exe"},
        {"6.x", 6, 0, 0, "Vista and later (8.1 and later report 6.2 to setup.exe)"},
    };
    return rows;
}

const char* TagForRow(const VersionRow& row) {
    return VersionTagFor(row.Major, row.Minor, row.Architecture);
}

std::vector<std::string> StampableTags() {
    std::vector<std::string> tags;
    for (const VersionRow& row : VersionRows()) {
        const char* tag = TagForRow(row);
        if (tag != nullptr && std::find(tags.begin(), tags.end(), tag) == tags.end()) {
            tags.emplace_back(tag);
        }
    }
    tags.emplace_back(MsiTag);
    tags.emplace_back(ExitCodeTag);
    tags.emplace_back(LogTag);
    return tags;
}

bool IsVersionTag(const std::string& name) {
    return IsStampableTag(name) && name != MsiTag && name != ExitCodeTag && name != LogTag;
}

bool IsStampableTag(const std::string& name) {
    const std::vector<std::string> tags = StampableTags();
    return std::find(tags.begin(), tags.end(), name) != tags.end();
}

std::string TailOf(const std::string& file) {
    const size_t length = file.size() < TailRegionSize ? file.size() : static_cast<size_t>(TailRegionSize);
    return file.substr(file.size() - length);
}

int TailSees(const std::string& file, const char* tag) {
    const std::string tail = TailOf(file);
    return TailHasTag(tail.data(), tail.size(), tag);
}

std::vector<StrayTag> TagsBeforeTail(const std::string& file, const PeImage& image) {
    std::vector<StrayTag> stray;
    const size_t tailStart = file.size() - TailOf(file).size();
    const uint64_t signatureEnd = static_cast<uint64_t>(image.SecurityOffset) + image.SecuritySize;
    const size_t searchFrom =
        image.ImageEnd < file.size() ? static_cast<size_t>(image.ImageEnd) : file.size();
    for (const std::string& tag : StampableTags()) {
        for (size_t at = file.find(tag, searchFrom); at != std::string::npos; at = file.find(tag, at + 1)) {
            const bool inSignature =
                image.SecuritySize != 0 && at >= image.SecurityOffset && at < signatureEnd;
            // A tag that ends inside the tail but starts before it is cut
            // short there, and so not seen either.
            if (at < tailStart && !inSignature) {
                stray.push_back({tag, at, file.size() - at});
            }
        }
    }
    return stray;
}
