// The central directory rewrite: fixed times and attributes, every length
// checked against the bytes that are left.
#include "tools/pack/zip_directory.h"

const uint16_t FixedDosTime = 0;
const uint16_t FixedDosDate = (0 << 9) | (1 << 5) | 1;

const uint16_t Utf8NameFlag = 1 << 11;

static const uint32_t CentralSignature = 0x02014b50;
static const size_t CentralHeaderSize = 46;
static const uint32_t DosArchiveBit = 0x20;
static const uint8_t UnixHost = 3;

uint32_t GetField(const unsigned char* at, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;) {
        value = (value << 8) | at[i];
    }
    return value;
}

void SetField(unsigned char* at, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xff);
    }
}

// The attributes with only what the files say about themselves: Unix modes
// keep the owner's write bit alone (0644 or 0444), DOS attributes lose the
// archive bit, which tells about backups, not about the file.
static uint32_t NormalAttributes(uint8_t host, uint32_t attributes) {
    if (host == UnixHost) {
        const bool readOnly = ((attributes >> 16) & 0200) == 0;
        const uint32_t mode = readOnly ? 0100444 : 0100644;
        return (mode << 16) | (readOnly ? 1 : 0);
    }
    return attributes & ~DosArchiveBit;
}

bool NormalizeCentralDirectory(unsigned char* directory, size_t size, uint32_t entries, bool utf8Names,
                               std::vector<LocalHeader>& localHeaders, std::string& error) {
    localHeaders.clear();
    size_t at = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        unsigned char* entry = directory + at;
        const size_t left = size - at;
        if (left < CentralHeaderSize || GetField(entry, 4) != CentralSignature) {
            error = "a damaged central directory entry";
            return false;
        }
        const size_t variable =
            static_cast<size_t>(GetField(entry + 28, 2)) + GetField(entry + 30, 2) + GetField(entry + 32, 2);
        if (variable > left - CentralHeaderSize) {
            error = "a central directory entry runs past the directory";
            return false;
        }
        const uint32_t localOffset = GetField(entry + 42, 4);
        if (localOffset == 0xffffffff) {
            error = "the archive needs Zip64 records (over 4 GiB)";
            return false;
        }
        // UTF-8 names (pack refuses any other on Linux) are marked so, for
        // the extractor to spell them in the system's code page.
        const size_t nameLength = GetField(entry + 28, 2);
        bool ascii = true;
        for (size_t c = 0; c < nameLength; ++c) {
            ascii = ascii && entry[CentralHeaderSize + c] < 0x80;
        }
        const bool markUtf8 = utf8Names && !ascii;
        const uint32_t flags = GetField(entry + 8, 2);
        SetField(entry + 8, markUtf8 ? flags | Utf8NameFlag : flags, 2);
        SetField(entry + 12, FixedDosTime, 2);
        SetField(entry + 14, FixedDosDate, 2);
        SetField(entry + 38, NormalAttributes(entry[5], GetField(entry + 38, 4)), 4);
        localHeaders.push_back({localOffset, markUtf8});
        at += CentralHeaderSize + variable;
    }
    return true;
}
