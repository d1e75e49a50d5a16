// The archive file around the central directory: the end record found, the
// directory read and written back, the entries copied anew where needed.
#include "tools/pack/formats/zip_archive.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>

#include "tools/pack/formats/little_endian.h"
#include "tools/pack/formats/zip_directory.h"
#include "tools/pack/host/files.h"

namespace fs = std::filesystem;

// The central directory and the end record that describes it.
struct ArchiveDirectory {
    std::string Bytes;
    uint64_t Entries = 0;
    uint64_t Offset = 0;
    bool Zip64 = false;  // the count, size or offset given by the Zip64 end record
    std::string End;     // the end record and its comment
};

static const uint32_t EndSignature = 0x06054b50;
static const uint32_t Zip64LocatorSignature = 0x07064b50;
static const uint32_t Zip64EndSignature = 0x06064b50;
static const size_t Zip64LocatorSize = 20;
static const size_t Zip64EndSize = 56;

// Whether the Zip64 locator lies just before the end record (at endAt).
// A full field without one is the value itself: Zip writes exactly 65,535
// entries that way.
static bool HasZip64Locator(FILE* file, uint64_t endAt) {
    unsigned char locator[Zip64LocatorSize];
    return endAt >= sizeof locator && ReadAt(file, endAt - sizeof locator, locator, sizeof locator) &&
           GetField(locator, 4) == Zip64LocatorSignature;
}

// The entry count, directory size and offset from the Zip64 end record,
// which the locator just before the end record (at endAt) points to.
static bool ReadZip64End(FILE* file, uint64_t endAt, uint64_t& entries, uint64_t& size, uint64_t& offset,
                         std::string& error) {
    unsigned char locator[Zip64LocatorSize];
    unsigned char record[Zip64EndSize];
    if (!ReadAt(file, endAt - sizeof locator, locator, sizeof locator)) {
        error = "cannot read the Zip64 locator";
        return false;
    }
    const uint64_t recordAt = GetField64(locator + 8);
    if (recordAt > endAt - sizeof locator || endAt - sizeof locator - recordAt < sizeof record ||
        !ReadAt(file, recordAt, record, sizeof record) || GetField(record, 4) != Zip64EndSignature) {
        error = "a damaged Zip64 end record";
        return false;
    }
    entries = GetField64(record + 32);
    size = GetField64(record + 40);
    offset = GetField64(record + 48);
    return true;
}

static bool ReadDirectory(FILE* file, ArchiveDirectory& directory, std::string& error) {
    // The end record: 22 bytes, then at most 65535 bytes of comment.
    uint64_t size = 0;
    if (!FileSize(file, size)) {
        error = "cannot seek";
        return false;
    }
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, 22 + 65535));
    std::string tail(tailSize, '\0');
    auto* tailBytes = reinterpret_cast<unsigned char*>(&tail[0]);
    if (size < 22 || !ReadAt(file, size - tailSize, tailBytes, tailSize)) {
        error = "too short for a zip archive";
        return false;
    }
    size_t end = tailSize - 22 + 1;
    while (end-- > 0 && GetField(tailBytes + end, 4) != EndSignature) {
    }
    if (end == static_cast<size_t>(-1)) {
        error = "no end of central directory record";
        return false;
    }
    uint64_t entries = GetField(tailBytes + end + 10, 2);
    uint64_t directorySize = GetField(tailBytes + end + 12, 4);
    uint64_t directoryOffset = GetField(tailBytes + end + 16, 4);
    directory.Zip64 = (entries == 0xffff || directorySize == 0xffffffff || directoryOffset == 0xffffffff) &&
                      HasZip64Locator(file, size - tailSize + end);
    if (directory.Zip64 &&
        !ReadZip64End(file, size - tailSize + end, entries, directorySize, directoryOffset, error)) {
        return false;
    }
    directory.Entries = entries;
    directory.Offset = directoryOffset;
    directory.End = tail.substr(end);
    if (directoryOffset > size || directorySize > size - directoryOffset) {
        error = "the central directory lies beyond the end of the file";
        return false;
    }
    if (directorySize > static_cast<size_t>(-1) / 2) {
        error = "the central directory is too large to read";
        return false;
    }
    directory.Bytes.assign(static_cast<size_t>(directorySize), '\0');
    if (!ReadAt(file, directoryOffset, reinterpret_cast<unsigned char*>(&directory.Bytes[0]),
                directory.Bytes.size())) {
        error = "cannot read the central directory";
        return false;
    }
    return true;
}

// Copies size bytes from one file's position to the other's.
static bool CopyBytes(FILE* from, FILE* to, uint64_t size) {
    char buffer[65536];
    while (size > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(size, sizeof buffer));
        if (fread(buffer, 1, chunk, from) != chunk || fwrite(buffer, 1, chunk, to) != chunk) {
            return false;
        }
        size -= chunk;
    }
    return true;
}

// Writes the entries to out again, each with its name in UTF-8 and no
// extra fields, then the central directory and the end record to match.
static bool WriteWithoutExtraFields(FILE* file, FILE* out, const ArchiveDirectory& directory,
                                    const std::vector<ZipEntry>& entries, std::string& error) {
    std::string central;
    uint64_t written = 0;
    for (const ZipEntry& entry : entries) {
        // A header that does not lie before the directory leaves its data
        // there, refused below.
        unsigned char local[30];
        if (!ReadAt(file, entry.LocalOffset, local, sizeof local) || GetField(local, 4) != 0x04034b50 ||
            (GetField(local + 6, 2) & 0x8) != 0) {
            error = "a damaged local header";
            return false;
        }
        const uint64_t data =
            entry.LocalOffset + sizeof local + GetField(local + 26, 2) + GetField(local + 28, 2);
        if (data + entry.CompressedSize > directory.Offset || written > 0xfffffffe) {
            error = "an entry runs past its place";
            return false;
        }
        // The entries are written anew with 4-byte fields only.
        if (directory.Zip64 || GetField(entry.Header, 20, 4) == 0xffffffff ||
            GetField(entry.Header, 24, 4) == 0xffffffff || GetField(local + 18, 4) == 0xffffffff ||
            GetField(local + 22, 4) == 0xffffffff) {
            error = "the archive needs Zip64 records, which the rewrite of zip.exe's names does not write";
            return false;
        }
        std::string header = entry.Header + entry.Name;
        auto* fields = reinterpret_cast<unsigned char*>(&header[0]);
        SetField(fields + 28, static_cast<uint32_t>(entry.Name.size()), 2);
        SetField(fields + 30, 0, 2);
        SetField(fields + 42, static_cast<uint32_t>(written), 4);
        central += header + entry.Comment;
        SetField(local + 26, static_cast<uint32_t>(entry.Name.size()), 2);
        SetField(local + 28, 0, 2);
        if (fwrite(local, 1, sizeof local, out) != sizeof local ||
            fwrite(entry.Name.data(), 1, entry.Name.size(), out) != entry.Name.size() ||
            !SeekTo(file, data) || !CopyBytes(file, out, entry.CompressedSize)) {
            error = "cannot copy an entry";
            return false;
        }
        written += sizeof local + entry.Name.size() + entry.CompressedSize;
    }
    std::string end = directory.End;
    auto* fields = reinterpret_cast<unsigned char*>(&end[0]);
    SetField(fields + 16, static_cast<uint32_t>(written), 4);
    SetField(fields + 12, static_cast<uint32_t>(central.size()), 4);
    const std::string rest = central + end;
    error = "cannot write the central directory";
    return written + rest.size() <= 0xffffffff && fwrite(rest.data(), 1, rest.size(), out) == rest.size();
}

// Reads the central directory and splits it into its entries.
static bool ReadEntries(FILE* file, ArchiveDirectory& directory, std::vector<ZipEntry>& entries,
                        std::string& error) {
    return ReadDirectory(file, directory, error) &&
           SplitCentralDirectory(reinterpret_cast<const unsigned char*>(directory.Bytes.data()),
                                 directory.Bytes.size(), directory.Entries, entries, error);
}

// Extra fields other than Zip64's: what zip.exe writes and zip on Linux does not.
static bool HasExtraFields(const std::vector<ZipEntry>& entries) {
    return std::any_of(entries.begin(), entries.end(),
                       [](const ZipEntry& entry) { return entry.OtherFields; });
}

// Writes the archive anew as copy; on failure the copy may be left (pack
// build removes the whole package directory then).
static bool WriteCopyWithoutExtraFields(FILE* file, const std::string& copy,
                                        const ArchiveDirectory& directory,
                                        const std::vector<ZipEntry>& entries, std::string& error) {
    FILE* out = OpenFile(copy, "wb");
    if (out == nullptr) {
        error = "cannot create " + copy + ": " + strerror(errno);
        return false;
    }
    const bool written = WriteWithoutExtraFields(file, out, directory, entries, error);
    if (fclose(out) != 0 && written) {
        error = "cannot write " + copy;
        return false;
    }
    return written;
}

bool ReadArchiveNames(const std::string& archive, std::vector<std::string>& names, std::string& error) {
    FILE* file = OpenFile(archive, "rb");
    if (file == nullptr) {
        error = strerror(errno);
        return false;
    }
    ArchiveDirectory directory;
    std::vector<ZipEntry> entries;
    const bool read = ReadEntries(file, directory, entries, error);
    (void)fclose(file);  // read only
    std::vector<std::string> found(entries.size());
    std::transform(entries.begin(), entries.end(), found.begin(),
                   [](const ZipEntry& entry) { return entry.Name; });
    names.swap(found);
    return read;
}

static bool NormalizeOpenArchive(FILE* file, ArchiveDirectory& directory, std::string& error) {
    const uint64_t directoryOffset = directory.Offset;
    const size_t directorySize = directory.Bytes.size();
    auto* dir = reinterpret_cast<unsigned char*>(&directory.Bytes[0]);
    std::vector<LocalHeader> localHeaders;
    if (!NormalizeCentralDirectory(dir, directorySize, directory.Entries, localHeaders, error)) {
        return false;
    }
    for (const LocalHeader& local : localHeaders) {
        // A local header (30 bytes) lies wholly before the directory.
        unsigned char header[30];
        if (local.Offset > directoryOffset || directoryOffset - local.Offset < sizeof header ||
            !ReadAt(file, local.Offset, header, sizeof header) || GetField(header, 4) != 0x04034b50) {
            error = "a damaged local header";
            return false;
        }
        const uint32_t flags = GetField(header + 6, 2);
        SetField(header + 6, local.Utf8 ? flags | Utf8NameFlag : flags, 2);
        SetField(header + 10, FixedDosTime, 2);
        SetField(header + 12, FixedDosDate, 2);
        if (!WriteAt(file, local.Offset, header, sizeof header)) {
            error = "cannot write a local header";
            return false;
        }
    }
    if (!WriteAt(file, directoryOffset, dir, directorySize)) {
        error = "cannot write the central directory";
        return false;
    }
    return true;
}

bool NormalizeArchive(const std::string& archive, std::string& error) {
    FILE* file = OpenFile(archive, "r+b");
    if (file == nullptr) {
        error = strerror(errno);
        return false;
    }
    ArchiveDirectory directory;
    std::vector<ZipEntry> entries;
    bool done = ReadEntries(file, directory, entries, error);
    // zip.exe stores a name outside ASCII in the OEM code page with its
    // UTF-8 form in an extra field (0x7075), which zip on Linux never
    // writes. Such an archive is written anew with the UTF-8 names and no
    // extra fields, so both give the same bytes, and then read again.
    if (done && HasExtraFields(entries)) {
        const std::string copy = archive + ".utf8";
        done = WriteCopyWithoutExtraFields(file, copy, directory, entries, error);
        (void)fclose(file);  // not written to
        file = nullptr;
        std::error_code code;
        if (done) {
            fs::rename(PathOf(copy), PathOf(archive), code);
            error = code ? "cannot replace it: " + code.message() : error;
        }
        file = done && !code ? OpenFile(archive, "r+b") : nullptr;
        done = file != nullptr && ReadEntries(file, directory, entries, error);
    }
    done = done && NormalizeOpenArchive(file, directory, error);
    if (file != nullptr && fclose(file) != 0 && done) {
        error = "cannot write the file";
        return false;
    }
    return done;
}
