// The central directory rewrite: fixed times and attributes, every length
// checked against the bytes that are left.
#include "tools/pack/formats/zip_directory.h"

#include "tools/pack/formats/little_endian.h"

const uint16_t FixedDosTime = 0;
const uint16_t FixedDosDate = (0 << 9) | (1 << 5) | 1;

const uint16_t Utf8NameFlag = 1 << 11;

static const uint32_t CentralSignature = 0x02014b50;
static const size_t CentralHeaderSize = 46;
static const uint32_t DosReadOnly = 0x01;
static const uint8_t UnixHost = 3;

// The attributes with only what the files say about themselves, as Unix
// modes whichever system wrote them: the owner's write bit alone (0644 or
// 0444, and the DOS read-only bit to match); nothing of owners, execute
// bits, or the DOS archive bit, which tells about backups.
static const uint32_t Zip64Field = 0x0001;
static const uint32_t FullField = 0xffffffff;
static const char* const MissingZip64 =
    "the archive needs Zip64 records, and an entry lacks the Zip64 field its sizes or offset need";

// An entry's compressed size and local header offset. Each fixed field that
// reads 0xffffffff has its value in the Zip64 field (0x0001) of the extra
// fields instead: 8 bytes each, in the order original size, compressed size,
// offset, and only those so marked. false when a marked value is missing.
static bool Zip64Values(const unsigned char* entry, const unsigned char* extra, size_t size,
                        uint64_t& compressed, uint64_t& offset) {
    compressed = GetField(entry + 20, 4);
    offset = GetField(entry + 42, 4);
    uint64_t* const marked[] = {nullptr, &compressed, &offset};
    const bool full[] = {GetField(entry + 24, 4) == FullField, compressed == FullField, offset == FullField};
    if (!full[0] && !full[1] && !full[2]) {
        return true;
    }
    size_t at = 0;
    while (size - at >= 4) {
        const size_t length = GetField(extra + at + 2, 2);
        if (length > size - at - 4) {
            return false;
        }
        if (GetField(extra + at, 2) == Zip64Field) {
            size_t value = at + 4;
            for (size_t i = 0; i < 3; ++i) {
                if (!full[i]) {
                    continue;
                }
                if (at + 4 + length - value < 8) {
                    return false;
                }
                if (marked[i] != nullptr) {
                    *marked[i] = GetField64(extra + value);
                }
                value += 8;
            }
            return true;
        }
        at += 4 + length;
    }
    return false;
}

static uint32_t NormalAttributes(uint8_t host, uint32_t attributes) {
    const bool readOnly =
        host == UnixHost ? ((attributes >> 16) & 0200) == 0 : (attributes & DosReadOnly) != 0;
    const uint32_t mode = readOnly ? 0100444 : 0100644;
    return (mode << 16) | (readOnly ? DosReadOnly : 0);
}

bool NormalizeCentralDirectory(unsigned char* directory, size_t size, uint64_t entries,
                               std::vector<LocalHeader>& localHeaders, std::string& error) {
    localHeaders.clear();
    size_t at = 0;
    for (uint64_t i = 0; i < entries; ++i) {
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
        const size_t nameLength = GetField(entry + 28, 2);
        uint64_t compressed = 0;
        uint64_t localOffset = 0;
        if (!Zip64Values(entry, entry + CentralHeaderSize + nameLength, GetField(entry + 30, 2), compressed,
                         localOffset)) {
            error = MissingZip64;
            return false;
        }
        // UTF-8 names (pack refuses any other) are marked so, for the
        // extractor to spell them in the system's code page.
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

// The CRC-32 (the zip format's, reflected 0xEDB88320) of bytes.
static uint32_t Crc32(const unsigned char* bytes, size_t size) {
    uint32_t crc = 0xffffffff;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
        }
    }
    return ~crc;
}

// The UTF-8 name a Unicode path field (version 1: a version byte, the CRC
// of the stored name, the name) in the extra fields carries, or "". As the
// extractor does, a field whose CRC is not the stored name's is stale (the
// name was changed by a tool that knew nothing of it) and is passed over.
static std::string UnicodePathOf(const unsigned char* extra, size_t size, const unsigned char* name,
                                 size_t nameLength) {
    // The smallest field that can carry a name: its id and length, the
    // version, the CRC and one byte.
    size_t at = 0;
    while (size - at >= 10) {
        const uint32_t id = GetField(extra + at, 2);
        const size_t length = GetField(extra + at + 2, 2);
        if (length > size - at - 4) {
            break;
        }
        if (id == UnicodePathField && length > 5 && extra[at + 4] == 1 &&
            GetField(extra + at + 5, 4) == Crc32(name, nameLength)) {
            return std::string(reinterpret_cast<const char*>(extra + at + 9), length - 5);
        }
        at += 4 + length;
    }
    return "";
}

// Whether the extra fields hold anything besides the Zip64 field.
static bool HasOtherFields(const unsigned char* extra, size_t size) {
    size_t at = 0;
    while (at < size) {
        if (size - at < 4 || GetField(extra + at, 2) != Zip64Field) {
            return true;
        }
        at += 4 + GetField(extra + at + 2, 2);
    }
    return false;
}

bool SplitCentralDirectory(const unsigned char* directory, size_t size, uint64_t entries,
                           std::vector<ZipEntry>& split, std::string& error) {
    split.clear();
    size_t at = 0;
    for (uint64_t i = 0; i < entries; ++i) {
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
        const unsigned char* extra = entry + CentralHeaderSize + nameLength;
        uint64_t compressed = 0;
        uint64_t localOffset = 0;
        if (!Zip64Values(entry, extra, extraLength, compressed, localOffset)) {
            error = MissingZip64;
            return false;
        }
        const auto* name = reinterpret_cast<const char*>(entry + CentralHeaderSize);
        const std::string unicode = UnicodePathOf(extra, extraLength, entry + CentralHeaderSize, nameLength);
        split.push_back({std::string(reinterpret_cast<const char*>(entry), CentralHeaderSize),
                         unicode.empty() ? std::string(name, nameLength) : unicode,
                         std::string(name + nameLength + extraLength, commentLength), localOffset, compressed,
                         HasOtherFields(extra, extraLength)});
        at += CentralHeaderSize + nameLength + extraLength + commentLength;
    }
    return true;
}

bool MayNeedZip64(uint64_t files, uint64_t bytes) {
    const uint64_t limit = 0xffffffff;
    return files > 0xffff || bytes > limit - files * 1024;
}
