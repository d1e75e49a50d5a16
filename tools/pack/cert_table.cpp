// Tags inside the certificate table: read, written and checked over the
// executable's bytes, with no cryptography, so pack.exe stamps as pack does.
#include "tools/pack/cert_table.h"

#include <stdint.h>

#include <algorithm>

#include "tools/pack/package_view.h"

// WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then the blob.
static const size_t CertHeaderSize = 8;
static const uint32_t CertRevision = 0x0200;
static const uint32_t CertTypePkcs7 = 0x0002;
static const size_t Alignment = 8;

static uint32_t Get(const std::string& file, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(file[offset + i]);
    }
    return value;
}

static void Set(std::string& file, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) {
        file[offset + i] = static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

// The length of the DER element at offset (its header included), or 0 when
// it is not a SEQUENCE with a definite length that fits in limit bytes.
static size_t DerLength(const std::string& file, size_t offset, size_t limit) {
    if (limit < 2 || static_cast<unsigned char>(file[offset]) != 0x30) {
        return 0;
    }
    const unsigned first = static_cast<unsigned char>(file[offset + 1]);
    if (first < 0x80) {
        return 2 + first <= limit ? 2 + first : 0;
    }
    const size_t octets = first & 0x7f;
    if (octets == 0 || octets > 4 || 2 + octets > limit) {
        return 0;
    }
    size_t length = 0;
    for (size_t i = 0; i < octets; ++i) {
        length = (length << 8) | static_cast<unsigned char>(file[offset + 2 + i]);
    }
    return length <= limit - 2 - octets ? 2 + octets + length : 0;
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

std::string ReadTagLines(const std::string& file, size_t from, size_t to, std::vector<std::string>& tags) {
    size_t at = from;
    while (at < to && file[at] != '\0') {
        const size_t end = file.find("\r\n", at);
        if (end == std::string::npos || end + 2 > to || !IsStampableTag(file.substr(at, end - at))) {
            return "the certificate table holds " + std::to_string(to - at) +
                   " bytes after the signature that are neither tag lines nor zeros";
        }
        tags.push_back(file.substr(at, end - at));
        at = end + 2;
    }
    if (std::any_of(file.begin() + static_cast<std::ptrdiff_t>(at),
                    file.begin() + static_cast<std::ptrdiff_t>(to), [](char c) { return c != '\0'; })) {
        return "the certificate table holds data after the zeros that follow the signature";
    }
    return "";
}

CertTable ReadCertTable(const std::string& file) {
    CertTable table;
    const PeFacts facts = ReadPeFacts(file);
    if (!facts.IsPe || facts.SecuritySize == 0) {
        return table;
    }
    table.Signed = true;
    table.Offset = facts.SecurityOffset;
    table.Size = facts.SecuritySize;
    const size_t optional = Get(file, 0x3c, 4) + 24;
    table.ChecksumOffset = optional + 64;
    table.EntryOffset = optional + (Get(file, optional, 2) == 0x20b ? 112 : 96) + static_cast<size_t>(4 * 8);
    if (table.Offset > file.size() || file.size() - table.Offset < table.Size) {
        table.Problem = "the certificate table (" + std::to_string(table.Size) + " bytes at " +
                        std::to_string(table.Offset) + ") passes the end of the file";
        return table;
    }
    if (table.Offset + table.Size != file.size()) {
        table.Problem = "the certificate table does not end the file: " +
                        std::to_string(file.size() - table.Offset - table.Size) +
                        " bytes follow it (data appended after signing)";
        return table;
    }
    if (table.Offset < facts.ImageEnd) {
        table.Problem = "the certificate table (at " + std::to_string(table.Offset) +
                        ") overlaps the image's headers or sections";
        return table;
    }
    if (table.Offset % Alignment != 0 || table.Size % Alignment != 0 || table.Size < CertHeaderSize) {
        table.Problem = "the certificate table (" + std::to_string(table.Size) + " bytes at " +
                        std::to_string(table.Offset) + ") is not aligned to 8 bytes";
        return table;
    }
    const size_t length = Get(file, table.Offset, 4);
    // The entry's length may leave out the zeros that pad it to 8 bytes.
    if ((length + Alignment - 1) / Alignment * Alignment != table.Size || length < CertHeaderSize ||
        Get(file, table.Offset + 4, 2) != CertRevision || Get(file, table.Offset + 6, 2) != CertTypePkcs7) {
        table.Problem = "the certificate table is not one PKCS#7 WIN_CERTIFICATE filling it (length " +
                        std::to_string(length) + " of " + std::to_string(table.Size) + " bytes)";
        return table;
    }
    const size_t blob = DerLength(file, table.Offset + CertHeaderSize, table.Size - CertHeaderSize);
    if (blob == 0) {
        table.Problem = "the certificate table holds no readable PKCS#7 blob";
        return table;
    }
    table.BlobEnd = table.Offset + CertHeaderSize + blob;
    if (table.BlobEnd > table.Offset + length) {
        table.Problem = "the certificate table's PKCS#7 blob passes the entry's length";
        return table;
    }
    table.Problem = ReadTagLines(file, table.BlobEnd, file.size(), table.Tags);
    return table;
}

static void UpdateChecksum(std::string& file, size_t checksumOffset) {
    if (Get(file, checksumOffset, 4) != 0) {
        Set(file, checksumOffset, PeChecksum(file, checksumOffset));
    }
}

// Every byte of a and b before end is the same, but the 4-byte fields at skip.
static bool SameBytesBut(const std::string& a, const std::string& b, size_t end,
                         const std::vector<size_t>& skip) {
    for (size_t at = 0; at < end; ++at) {
        const bool skipped = std::any_of(skip.begin(), skip.end(),
                                         [at](size_t field) { return at >= field && at < field + 4; });
        if (!skipped && a[at] != b[at]) {
            return false;
        }
    }
    return true;
}

bool StampIntoCertTable(const std::string& file, const std::vector<std::string>& tags, std::string& stamped,
                        std::string& problem) {
    const CertTable table = ReadCertTable(file);
    if (!table.Signed || !table.Problem.empty()) {
        problem = table.Signed ? table.Problem : "the executable is not signed";
        return false;
    }
    std::vector<std::string> wanted = table.Tags;
    for (const std::string& tag : tags) {
        if (std::find(wanted.begin(), wanted.end(), tag) == wanted.end()) {
            wanted.push_back(tag);
        }
    }
    std::string text;
    for (const std::string& tag : wanted) {
        text += tag + "\r\n";
    }
    const size_t used = table.BlobEnd - table.Offset + text.size();
    const size_t size = (used + Alignment - 1) / Alignment * Alignment;
    std::string result = file.substr(0, table.BlobEnd) + text + std::string(size - used, '\0');
    Set(result, table.EntryOffset + 4, static_cast<uint32_t>(size));
    Set(result, table.Offset, static_cast<uint32_t>(size));
    UpdateChecksum(result, table.ChecksumOffset);

    // The result read back as the launcher and a verifier will read it.
    const CertTable check = ReadCertTable(result);
    if (!check.Problem.empty() || check.Offset != table.Offset || check.Size != size ||
        check.BlobEnd != table.BlobEnd || check.Tags != wanted) {
        problem = "the stamped certificate table does not read back as written" +
                  (check.Problem.empty() ? "" : ": " + check.Problem);
        return false;
    }
    if (!SameBytesBut(file, result, table.BlobEnd,
                      {table.EntryOffset + 4, table.Offset, table.ChecksumOffset})) {
        problem = "stamping would change signed bytes";
        return false;
    }
    const auto lost = std::find_if(wanted.begin(), wanted.end(),
                                   [&](const std::string& tag) { return !TailSees(result, tag.c_str()); });
    if (lost != wanted.end()) {
        problem = *lost + " would not lie within the last 256 bytes";
        return false;
    }
    stamped = result;
    return true;
}

bool StripSignature(const std::string& file, std::string& unsigned_, std::string& problem) {
    const CertTable table = ReadCertTable(file);
    if (!table.Signed) {
        unsigned_ = file;
        return true;
    }
    if (table.Offset > file.size() || file.size() - table.Offset != table.Size) {
        problem = table.Problem;
        return false;
    }
    std::string result = file.substr(0, table.Offset);
    Set(result, table.EntryOffset, 0);
    Set(result, table.EntryOffset + 4, 0);
    UpdateChecksum(result, table.ChecksumOffset);
    unsigned_ = result;
    return true;
}
