// The PE headers: the COFF header, the optional header in its 32-bit or
// 64-bit layout, the data directories and the section table.
#include "tools/pack/formats/pe_image.h"

#include <stdio.h>

#include "tools/pack/formats/little_endian.h"

static const uint16_t I386Machine = 0x14c;
static const uint32_t GuiSubsystem = 2;
static const uint32_t ConsoleSubsystem = 3;
static const size_t SectionHeaderSize = 40;
static const size_t SecurityDirectory = 4;

PeImage ReadPeImage(const std::string& file) {
    PeImage image;
    if (file.size() < 0x40 || file.compare(0, 2, "MZ") != 0) {
        return image;
    }
    const size_t pe = GetField(file, 0x3c, 4);
    const size_t optional = pe + 24;  // after "PE\0\0" and the 20-byte COFF header
    if (pe > file.size() || file.size() - pe < 24 || file.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return image;
    }
    const size_t sectionCount = GetField(file, pe + 6, 2);
    const size_t optionalSize = GetField(file, pe + 20, 2);
    const size_t sections = optional + optionalSize;
    if (file.size() < sections || optionalSize < 2 ||
        file.size() - sections < sectionCount * SectionHeaderSize) {
        return image;
    }
    const uint32_t magic = GetField(file, optional, 2);
    if (magic != 0x10b && magic != 0x20b) {
        return image;
    }
    image.IsPe = true;
    image.Machine = static_cast<uint16_t>(GetField(file, pe + 4, 2));
    image.OptionalHeader = optional;
    image.OptionalHeaderSize = optionalSize;
    image.Pe32Plus = magic == 0x20b;
    // The checksum and the subsystem lie at the same places in both layouts.
    image.ChecksumOffset = optional + 64;
    if (optionalSize >= 70) {
        image.Subsystem = GetField(file, optional + 68, 2);
    }
    // The data directories follow the fixed fields, which are 16 bytes
    // longer in the 64-bit layout; the count of them comes just before.
    image.Directories = optional + (image.Pe32Plus ? 112 : 96);
    if (optionalSize >= image.Directories - optional) {
        image.DirectoryCount = GetField(file, image.Directories - 4, 4);
    }
    image.SecurityEntryOffset = image.Directories + SecurityDirectory * 8;
    image.HasSecurityEntry =
        optionalSize >= image.SecurityEntryOffset + 8 - optional && image.DirectoryCount > SecurityDirectory;
    if (image.HasSecurityEntry) {
        image.SecurityOffset = GetField(file, image.SecurityEntryOffset, 4);
        image.SecuritySize = GetField(file, image.SecurityEntryOffset + 4, 4);
    }
    image.ImageEnd = sections + sectionCount * SectionHeaderSize;
    for (size_t i = 0; i < sectionCount; ++i) {
        const size_t header = sections + i * SectionHeaderSize;
        PeSection section;
        section.RawSize = GetField(file, header + 16, 4);
        section.RawOffset = GetField(file, header + 20, 4);
        image.Sections.push_back(section);
        const uint64_t end = static_cast<uint64_t>(section.RawOffset) + section.RawSize;
        if (end > image.ImageEnd) {
            image.ImageEnd = end;
        }
    }
    return image;
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

std::string ExecutableKindProblem(const PeImage& image, bool console) {
    if (!image.IsPe) {
        return "is not a Windows executable (no PE headers)";
    }
    if (image.Machine != I386Machine) {
        return "is built for " + MachineName(image.Machine) +
               ", not for 32-bit x86 (i386): 32-bit Windows cannot start it";
    }
    const uint32_t wanted = console ? ConsoleSubsystem : GuiSubsystem;
    if (image.Subsystem != wanted) {
        return std::string("is not a ") + (console ? "console" : "GUI") + " program (subsystem " +
               std::to_string(image.Subsystem) + ", expected " + std::to_string(wanted) + ")";
    }
    return "";
}

unsigned PeChecksum(const std::string& file, size_t checksumOffset) {
    uint64_t sum = 0;
    for (size_t at = 0; at < file.size(); at += 2) {
        if (at == checksumOffset || at == checksumOffset + 2) {
            continue;
        }
        const unsigned low = static_cast<unsigned char>(file[at]);
        const unsigned high = at + 1 < file.size() ? static_cast<unsigned char>(file[at + 1]) : 0;
        sum += low | (high << 8);
        sum = (sum & 0xffff) + (sum >> 16);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<unsigned>(sum + file.size());
}

void UpdatePeChecksum(std::string& file, size_t checksumOffset) {
    if (GetField(file, checksumOffset, 4) != 0) {
        SetField(file, checksumOffset, PeChecksum(file, checksumOffset), 4);
    }
}

bool IsExtractor(const std::string& file) {
    return file.find("UnZip lists and extracts files in zip archives") != std::string::npos;
}
