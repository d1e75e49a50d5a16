// The central directory of a zip archive, rewritten in memory so that the
// same files give the same bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// The fixed time and date every entry gets: 1980-01-01 00:00, the earliest a
// zip entry can carry.
extern const uint16_t FixedDosTime;
extern const uint16_t FixedDosDate;

// Where an entry's local header is, and whether its name is marked UTF-8.
struct LocalHeader {
    uint64_t Offset;
    bool Utf8;
};

// The general purpose flag that marks a name as UTF-8 (bit 11).
extern const uint16_t Utf8NameFlag;

// Gives each of the entries in the directory (size bytes) the fixed time
// stamp and the Unix attributes that say only what the file says about
// itself (whichever system wrote it), marks every name outside ASCII as
// UTF-8, and collects each entry's local header. Every length field is
// checked against what is left of the directory, so a damaged or hostile
// directory is refused (false, error says why) and nothing outside it is
// read or written. An offset or size too large for its fixed field is read
// from the entry's Zip64 field (0x0001), which archives past 4 GiB carry.
bool NormalizeCentralDirectory(unsigned char* directory, size_t size, uint64_t entries,
                               std::vector<LocalHeader>& localHeaders, std::string& error);

// One central directory entry, its name in UTF-8.
struct ZipEntry {
    std::string Header;  // the fixed 46 bytes
    std::string Name;    // from the Unicode path extra field (0x7075) when there is one
    std::string Comment;
    uint64_t LocalOffset;     // from the Zip64 field where the fixed one is full
    uint64_t CompressedSize;  // likewise
    bool OtherFields;         // extra fields besides the Zip64 field
};

// The directory's entries, each length checked as above.
bool SplitCentralDirectory(const unsigned char* directory, size_t size, uint64_t entries,
                           std::vector<ZipEntry>& split, std::string& error);

// Whether an archive of this many files, of this many bytes in all, may need
// Zip64 records: over 65,535 entries, or entries that could reach past
// 4 GiB (a stored file takes its full size, and each entry's headers and
// name take less than 1 KiB).
bool MayNeedZip64(uint64_t files, uint64_t bytes);
