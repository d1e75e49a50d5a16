// The launcher's reading of a package, through the launcher's own tail scan
// and version table, so that the tool and the launcher cannot disagree.
#include "tools/pack/package_view.h"

#include <stdio.h>

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

static uint32_t ReadLittleEndian(const std::string& file, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(file[offset + i]);
    }
    return value;
}

PeFacts ReadPeFacts(const std::string& file) {
    PeFacts facts;
    if (file.size() < 0x40 || file.compare(0, 2, "MZ") != 0) {
        return facts;
    }
    const size_t pe = ReadLittleEndian(file, 0x3c, 4);
    const size_t optional = pe + 24;  // after "PE\0\0" and the 20-byte COFF header
    if (pe > file.size() || file.size() - pe < 24 || file.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return facts;
    }
    const size_t sectionCount = ReadLittleEndian(file, pe + 6, 2);
    const size_t optionalSize = ReadLittleEndian(file, pe + 20, 2);
    const size_t sections = optional + optionalSize;
    if (file.size() < sections || optionalSize < 2 || file.size() - sections < sectionCount * 40) {
        return facts;
    }
    const uint32_t magic = ReadLittleEndian(file, optional, 2);
    // The data directories follow the fixed fields, which are 16 bytes
    // longer in the 64-bit layout; the certificate table is entry 4.
    const size_t directories = optional + (magic == 0x20b ? 112 : 96);
    const size_t countField = directories - 4;
    if (magic != 0x10b && magic != 0x20b) {
        return facts;
    }
    facts.IsPe = true;
    facts.Machine = static_cast<uint16_t>(ReadLittleEndian(file, pe + 4, 2));
    // The subsystem lies at the same place in both layouts.
    if (optionalSize >= 70) {
        facts.Subsystem = ReadLittleEndian(file, optional + 68, 2);
    }
    facts.ImageEnd = sections + sectionCount * 40;
    const size_t security = directories + static_cast<size_t>(4 * 8);
    if (optionalSize >= security + 8 - optional && ReadLittleEndian(file, countField, 4) > 4) {
        facts.SecurityOffset = ReadLittleEndian(file, security, 4);
        facts.SecuritySize = ReadLittleEndian(file, security + 4, 4);
    }
    for (size_t i = 0; i < sectionCount; ++i) {
        const size_t header = sections + i * 40;
        const uint64_t end = static_cast<uint64_t>(ReadLittleEndian(file, header + 20, 4)) +
                             ReadLittleEndian(file, header + 16, 4);
        if (end > facts.ImageEnd) {
            facts.ImageEnd = end;
        }
    }
    return facts;
}

std::string MachineName(uint16_t machine) {
    if (machine == 0x14c) {
        return "32-bit x86";
    }
    if (machine == 0x8664) {
        return "64-bit x64";
    }
    char text[32];
    (void)snprintf(text, sizeof text, "machine 0x%04x", machine);
    return text;
}

std::vector<StrayTag> TagsBeforeTail(const std::string& file, const PeFacts& facts) {
    std::vector<StrayTag> stray;
    const size_t tailStart = file.size() - TailOf(file).size();
    const uint64_t signatureEnd = static_cast<uint64_t>(facts.SecurityOffset) + facts.SecuritySize;
    const size_t searchFrom =
        facts.ImageEnd < file.size() ? static_cast<size_t>(facts.ImageEnd) : file.size();
    for (const std::string& tag : StampableTags()) {
        for (size_t at = file.find(tag, searchFrom); at != std::string::npos; at = file.find(tag, at + 1)) {
            const bool inSignature =
                facts.SecuritySize != 0 && at >= facts.SecurityOffset && at < signatureEnd;
            // A tag that ends inside the tail but starts before it is cut
            // short there, and so not seen either.
            if (at < tailStart && !inSignature) {
                stray.push_back({tag, at, file.size() - at});
            }
        }
    }
    return stray;
}
