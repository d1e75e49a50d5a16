// The central directory rewrite: fixed times and attributes, every length
// checked against the bytes that are left.
#include "tools/pack/zip_directory.h"

const uint16_t FixedDosTime = 0;
const uint16_t FixedDosDate = (0 << 9) | (1 << 5) | 1;

const uint16_t Utf8NameFlag = 1 << 11;

static const uint32_t CentralSignature = 0x02014b50;
static const size_t CentralHeaderSize = 46;
static const uint32_t DosReadOnly = 0x01;
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

// The attributes with only what the files say about themselves, as Unix
// modes whichever system wrote them: the owner's write bit alone (0644 or
// 0444, and the DOS read-only bit to match); nothing of owners, execute
// bits, or the DOS archive bit, which tells about backups.
static uint32_t NormalAttributes(uint8_t host, uint32_t attributes) {
    const bool readOnly =
        host == UnixHost ? ((attributes >> 16) & 0200) == 0 : (attributes & DosReadOnly) != 0;
    const uint32_t mode = readOnly ? 0100444 : 0100644;
    return (mode << 16) | (readOnly ? DosReadOnly : 0);
}

bool NormalizeCentralDirectory(unsigned char* directory, size_t size, uint32_t entries,
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
        // UTF-8 names (pack refuses any other) are marked so, for the
        // extractor to spell them in the system's code page.
        const size_t nameLength = GetField(entry + 28, 2);
        bool ascii = true;
        for (size_t c = 0; c < nameLength; ++c) {
            ascii = ascii && entry[CentralHeaderSize + c] < 0x80;
        }
        const bool markUtf8 = !ascii;
        const uint32_t flags = GetField(entry + 8, 2);
        SetField(entry + 8, markUtf8 ? flags | Utf8NameFlag : flags, 2);
        SetField(entry + 12, FixedDosTime, 2);
        SetField(entry + 14, FixedDosDate, 2);
        SetField(entry + 38, NormalAttributes(entry[5], GetField(entry + 38, 4)), 4);
        entry[5] = UnixHost;
        localHeaders.push_back({localOffset, markUtf8});
        at += CentralHeaderSize + variable;
    }
    return true;
}

static const uint32_t UnicodePathField = 0x7075;

// The UTF-8 name a Unicode path field (version 1: a version byte, the CRC
// of the stored name, the name) in the extra fields carries, or "".
static std::string UnicodePathOf(const unsigned char* extra, size_t size) {
    // The smallest field that can carry a name: its id and length, the
    // version, the CRC and one byte.
    size_t at = 0;
    while (size - at >= 10) {
        const uint32_t id = GetField(extra + at, 2);
        const size_t length = GetField(extra + at + 2, 2);
        if (length > size - at - 4) {
            break;
        }
        if (id == UnicodePathField && length > 5 && extra[at + 4] == 1) {
            return std::string(reinterpret_cast<const char*>(extra + at + 9), length - 5);
        }
        at += 4 + length;
    }
    return "";
}

bool SplitCentralDirectory(const unsigned char* directory, size_t size, uint32_t entries,
                           std::vector<ZipEntry>& split, std::string& error) {
    split.clear();
    size_t at = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const unsigned char* entry = directory + at;
        const size_t left = size - at;
        if (left < CentralHeaderSize || GetField(entry, 4) != CentralSignature) {
            error = "a damaged central directory entry";
            return false;
        }
        const size_t nameLength = GetField(entry + 28, 2);
        const size_t extraLength = GetField(entry + 30, 2);
        const size_t commentLength = GetField(entry + 32, 2);
        if (nameLength + extraLength + commentLength > left - CentralHeaderSize) {
            error = "a central directory entry runs past the directory";
            return false;
        }
        if (GetField(entry + 42, 4) == 0xffffffff) {
            error = "the archive needs Zip64 records (over 4 GiB)";
            return false;
        }
        const auto* name = reinterpret_cast<const char*>(entry + CentralHeaderSize);
        const std::string unicode = UnicodePathOf(entry + CentralHeaderSize + nameLength, extraLength);
        split.push_back({std::string(reinterpret_cast<const char*>(entry), CentralHeaderSize),
                         unicode.empty() ? std::string(name, nameLength) : unicode,
                         std::string(name + nameLength + extraLength, commentLength), GetField(entry + 42, 4),
                         GetField(entry + 20, 4)});
        at += CentralHeaderSize + nameLength + extraLength + commentLength;
    }
    return true;
}
