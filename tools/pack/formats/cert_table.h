// The Authenticode certificate table at the end of a signed executable, and
// tags written inside it, after the signature's PKCS#7 blob: that part is
// not hashed, so the signature stays valid, and it ends the file, where the
// launcher reads its tags.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "tools/pack/formats/pe_image.h"

struct CertTable {
    bool Signed = false;            // the security directory names a table
    std::string Problem;            // why tags cannot be written in it; "" when they can
    size_t Offset = 0;              // where the table starts (the WIN_CERTIFICATE)
    size_t Size = 0;                // the directory's size: the whole table
    size_t BlobEnd = 0;             // the first byte after the PKCS#7 blob
    size_t EntryOffset = 0;         // the security directory entry's offset in the file
    size_t ChecksumOffset = 0;      // the optional header's CheckSum field
    std::vector<std::string> Tags;  // tag lines after the blob, in order
    // When the table is sound but for tag lines appended after it (and
    // only those): they, in order. The file without them is sound.
    std::vector<std::string> TagsAfter;
};

// The certificate table of an executable's bytes, whose PE image the caller
// has read (or, in the second form, that is read here). Problem names the
// first thing that does not hold: the table lies within the file, ends it,
// follows the image, starts on an 8-byte boundary and is a multiple of 8
// bytes long; it holds one
// WIN_CERTIFICATE (revision 2.0, PKCS#7 signed data) whose length, padded
// to 8 bytes, is the table's and whose DER blob fits in it; after the blob
// come only tag lines (CR LF each) and zero bytes.
CertTable ReadCertTable(const std::string& file, const PeImage& image);
CertTable ReadCertTable(const std::string& file);

// The signature's PKCS#7 blob (table, as ReadCertTable read it from file,
// without a problem) rewritten for a plain PKCS#7 verifier: its signed
// content, the Authenticode SpcIndirectDataContent, becomes id-data holding
// that content's value bytes, the very bytes its messageDigest attribute
// covers. Nothing signed changes, so the signature value still verifies
// against the signer's certificate when, and only when, it is genuine.
// false when the blob does not have that shape.
bool DataSignedBlob(const std::string& file, const CertTable& table, std::string& der);

// What makes an executable's bytes unfit to be signed, stamped or shipped,
// or "": the image ends past the end of the file (it was cut short), or its
// certificate table has a fault, but for tag lines appended after a sound
// table (TagsAfter), which signing and stamping move inside.
std::string ExecutableDamage(const std::string& file);

// The executable with tags written inside its certificate table (table, as
// ReadCertTable read it from file) after the blob: the tags already there,
// in their order, then those asked for that are not, each once, as lines
// ending in CR LF, then zeros to the next multiple of 8. The
// WIN_CERTIFICATE's length, the directory's size and (when it is set) the PE
// checksum are updated. Afterwards the result is read back and compared:
// the table's bounds, sizes and alignment, the blob and every byte before
// the table unchanged but those three fields, and every tag within the last
// 256 bytes; stampedTable is the result as read back. false with problem
// set, and stamped untouched, when anything does not hold.
bool StampIntoCertTable(const std::string& file, const CertTable& table, const std::vector<std::string>& tags,
                        std::string& stamped, CertTable& stampedTable, std::string& problem);

// The executable without its signature (table, as ReadCertTable read it from
// file): the bytes before the certificate table, with the security directory
// entry cleared and the checksum updated. false with problem set when the
// table does not end the file.
bool StripSignature(const std::string& file, const CertTable& table, std::string& unsigned_,
                    std::string& problem);

// Tag lines (each a known tag and CR LF), then only zeros, in [from, to) of
// file: "" with the tags added in order, else what else is there.
std::string ReadTagLines(const std::string& file, size_t from, size_t to, std::vector<std::string>& tags);
