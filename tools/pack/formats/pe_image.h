// The PE image of a Windows executable: its headers, section table and data
// directories, read once from its bytes, for the kind check, the
// certificate table, stamping and showing alike.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Where one section's data lies in the file.
struct PeSection {
    uint32_t RawOffset = 0;
    uint32_t RawSize = 0;
};

struct PeImage {
    bool IsPe = false;
    uint16_t Machine = 0;             // COFF machine: 0x14c x86, 0x8664 AMD64
    uint32_t Subsystem = 0;           // 2 a GUI program, 3 a console program
    size_t OptionalHeader = 0;        // the optional header's offset in the file
    size_t OptionalHeaderSize = 0;    // as the COFF header gives it
    bool Pe32Plus = false;            // the 64-bit layout of the optional header
    size_t ChecksumOffset = 0;        // the CheckSum field (inside the header when it has 68 bytes)
    size_t Directories = 0;           // the data directories' offset in the file
    uint32_t DirectoryCount = 0;      // as the optional header gives it
    std::vector<PeSection> Sections;  // in header order
    bool HasSecurityEntry = false;    // the header holds the security directory entry
    size_t SecurityEntryOffset = 0;   // that entry's offset in the file
    uint32_t SecurityOffset = 0;      // the Authenticode certificate table
    uint32_t SecuritySize = 0;        // 0: not signed
    uint64_t ImageEnd = 0;            // end of the headers and section data
};

// The PE image in an executable's bytes; IsPe false when they are not one.
// Every field read lies within the bytes.
PeImage ReadPeImage(const std::string& file);

// "32-bit x86", "64-bit x64" or a hexadecimal machine number.
std::string MachineName(uint16_t machine);

// Why an executable cannot serve in a package: not a PE image, not for
// 32-bit x86, or not a GUI program (console false: setup.exe) or console
// program (console true: unzip.exe); "" when it can.
std::string ExecutableKindProblem(const PeImage& image, bool console);

// The PE checksum of an executable's bytes, as the image loader computes it
// (the CheckSum field itself counted as zero).
unsigned PeChecksum(const std::string& file, size_t checksumOffset);

// Sets the CheckSum field to the bytes' checksum when it is set at all: an
// image without one keeps zero there.
void UpdatePeChecksum(std::string& file, size_t checksumOffset);

// Whether an executable is Info-ZIP UnZip, the extractor setup.exe runs:
// it carries UnZip's own description of itself, which Zip (zip.exe, which
// names UnZip too) does not.
bool IsExtractor(const std::string& file);
