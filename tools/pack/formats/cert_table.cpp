// Tags inside the certificate table: read, written and checked over the
// executable's bytes, with no cryptography, so pack.exe stamps as pack does.
#include "tools/pack/formats/cert_table.h"

#include <stdint.h>

#include <algorithm>

#include "tools/pack/formats/little_endian.h"
#include "tools/pack/formats/tags.h"

// WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then the blob.
static const size_t CertHeaderSize = 8;
static const uint32_t CertRevision = 0x0200;
static const uint32_t CertTypePkcs7 = 0x0002;
static const size_t Alignment = 8;

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
    return ReadCertTable(file, ReadPeImage(file));
}

CertTable ReadCertTable(const std::string& file, const PeImage& image) {
    CertTable table;
    if (!image.IsPe || image.SecuritySize == 0) {
        return table;
    }
    table.Signed = true;
    table.Offset = image.SecurityOffset;
    table.Size = image.SecuritySize;
    table.ChecksumOffset = image.ChecksumOffset;
    table.EntryOffset = image.SecurityEntryOffset;
    if (table.Offset > file.size() || file.size() - table.Offset < table.Size) {
        table.Problem = "the certificate table (" + std::to_string(table.Size) + " bytes at " +
                        std::to_string(table.Offset) + ") passes the end of the file";
        return table;
    }
    if (table.Offset + table.Size != file.size()) {
        std::vector<std::string> after;
        const std::string sound = file.substr(0, table.Offset + table.Size);
        if (ReadTagLines(file, sound.size(), file.size(), after).empty() && !after.empty() &&
            ReadCertTable(sound, image).Problem.empty()) {
            table.TagsAfter = after;
        }
        table.Problem = "the certificate table does not end the file: " +
                        std::to_string(file.size() - table.Offset - table.Size) +
                        " bytes follow it (data appended after signing)";
        return table;
    }
    if (table.Offset < image.ImageEnd) {
        table.Problem = "the certificate table (at " + std::to_string(table.Offset) +
                        ") overlaps the image's headers or sections";
        return table;
    }
    if (table.Offset % Alignment != 0 || table.Size % Alignment != 0 || table.Size < CertHeaderSize) {
        table.Problem = "the certificate table (" + std::to_string(table.Size) + " bytes at " +
                        std::to_string(table.Offset) + ") is not aligned to 8 bytes";
        return table;
    }
    const size_t length = GetField(file, table.Offset, 4);
    // The entry's length may leave out the zeros that pad it to 8 bytes.
    if ((length + Alignment - 1) / Alignment * Alignment != table.Size || length < CertHeaderSize ||
        GetField(file, table.Offset + 4, 2) != CertRevision ||
        GetField(file, table.Offset + 6, 2) != CertTypePkcs7) {
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

// One DER element at offset within [offset, limit): its tag, header and
// content length; false when it does not fit.
struct DerElement {
    unsigned Tag = 0;
    size_t Header = 0;
    size_t Length = 0;
    size_t End() const { return Header + Length; }
};

static bool ReadElement(const std::string& der, size_t offset, size_t limit, DerElement& element) {
    if (offset + 2 > limit) {
        return false;
    }
    element.Tag = static_cast<unsigned char>(der[offset]);
    const unsigned first = static_cast<unsigned char>(der[offset + 1]);
    element.Header = 2;
    element.Length = first;
    if (first >= 0x80) {
        const size_t octets = first & 0x7f;
        if (octets == 0 || octets > 4 || offset + 2 + octets > limit) {
            return false;
        }
        element.Header += octets;
        element.Length = 0;
        for (size_t i = 0; i < octets; ++i) {
            element.Length = (element.Length << 8) | static_cast<unsigned char>(der[offset + 2 + i]);
        }
    }
    return element.Length <= limit - offset - element.Header;
}

static std::string Encode(unsigned tag, const std::string& value) {
    std::string length;
    for (size_t n = value.size(); n != 0; n >>= 8) {
        length.insert(length.begin(), static_cast<char>(n & 0xff));
    }
    if (value.size() >= 0x80) {
        length.insert(length.begin(), static_cast<char>(0x80 | length.size()));
    } else {
        length = std::string(1, static_cast<char>(value.size()));
    }
    return std::string(1, static_cast<char>(tag)) + length + value;
}

bool DataSignedBlob(const std::string& file, const CertTable& table, std::string& der) {
    // ContentInfo { OID, [0] SignedData { version, digestAlgorithms,
    // contentInfo { OID, [0] content }, certificates..., signerInfos } }.
    const size_t start = table.Offset + CertHeaderSize;
    const size_t limit = table.BlobEnd;
    DerElement outer;
    DerElement type;
    DerElement wrapper;
    DerElement data;
    if (table.BlobEnd == 0 || !ReadElement(file, start, limit, outer) ||
        !ReadElement(file, start + outer.Header, limit, type) ||
        !ReadElement(file, start + outer.Header + type.End(), limit, wrapper) ||
        !ReadElement(file, start + outer.Header + type.End() + wrapper.Header, limit, data) ||
        data.Tag != 0x30) {
        return false;
    }
    const size_t dataStart = start + outer.Header + type.End() + wrapper.Header;
    size_t at = dataStart + data.Header;
    const size_t dataEnd = dataStart + data.End();
    std::string kept;
    DerElement field;
    for (int i = 0; i < 2; ++i) {
        if (!ReadElement(file, at, dataEnd, field)) {
            return false;
        }
        kept += file.substr(at, field.End());
        at += field.End();
    }
    DerElement content;
    DerElement contentType;
    DerElement explicitTag;
    DerElement indirect;
    if (!ReadElement(file, at, dataEnd, content) || content.Tag != 0x30 ||
        !ReadElement(file, at + content.Header, dataEnd, contentType) ||
        !ReadElement(file, at + content.Header + contentType.End(), dataEnd, explicitTag) ||
        explicitTag.Tag != 0xa0 ||
        !ReadElement(file, at + content.Header + contentType.End() + explicitTag.Header, dataEnd, indirect)) {
        return false;
    }
    const size_t value = at + content.Header + contentType.End() + explicitTag.Header + indirect.Header;
    static const char IdData[] = "\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x01";
    const std::string plain =
        Encode(0x30, std::string(IdData, sizeof IdData - 1) +
                         Encode(0xa0, Encode(0x04, file.substr(value, indirect.Length))));
    const size_t rest = at + content.End();
    const std::string signedData = Encode(0x30, kept + plain + file.substr(rest, dataEnd - rest));
    der = Encode(0x30, file.substr(start + outer.Header, type.End()) + Encode(0xa0, signedData));
    return true;
}

std::string ExecutableDamage(const std::string& file) {
    const PeImage image = ReadPeImage(file);
    if (image.IsPe && image.ImageEnd > file.size()) {
        return "the image ends at byte " + std::to_string(image.ImageEnd) + ", past the end of the file (" +
               std::to_string(file.size()) + " bytes): the file was cut short";
    }
    const CertTable table = ReadCertTable(file, image);
    return table.TagsAfter.empty() ? table.Problem : "";
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

bool StampIntoCertTable(const std::string& file, const CertTable& table, const std::vector<std::string>& tags,
                        std::string& stamped, CertTable& stampedTable, std::string& problem) {
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
    SetField(result, table.EntryOffset + 4, static_cast<uint32_t>(size), 4);
    SetField(result, table.Offset, static_cast<uint32_t>(size), 4);
    UpdatePeChecksum(result, table.ChecksumOffset);

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
    stampedTable = check;
    return true;
}

bool StripSignature(const std::string& file, const CertTable& table, std::string& unsigned_,
                    std::string& problem) {
    if (!table.Signed) {
        unsigned_ = file;
        return true;
    }
    if (!table.Problem.empty()) {
        problem = table.Problem;
        return false;
    }
    std::string result = file.substr(0, table.Offset);
    SetField(result, table.EntryOffset, 0, 4);
    SetField(result, table.EntryOffset + 4, 0, 4);
    UpdatePeChecksum(result, table.ChecksumOffset);
    unsigned_ = result;
    return true;
}
