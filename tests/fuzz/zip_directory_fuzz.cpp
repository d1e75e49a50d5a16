// Fuzzes pack's central directory rewrite over arbitrary directories: no
// read or write outside the bytes given, and a directory it accepts is one
// whose entries all fit and which a second pass leaves as it is; splitting
// it into entries accepts the same directories.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "tools/pack/formats/little_endian.h"
#include "tools/pack/formats/zip_directory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) {
        return 0;
    }
    // The first byte is the entry count the end record claims.
    const uint32_t entries = data[0] % 8;
    const size_t length = size - 1;
    // An exact-size copy: any access past the directory is caught.
    auto* directory = static_cast<unsigned char*>(malloc(length == 0 ? 1 : length));
    std::copy(data + 1, data + size, directory);
    std::vector<LocalHeader> offsets;
    std::string error;
    std::vector<ZipEntry> split;
    std::string splitError;
    const bool splits = SplitCentralDirectory(directory, length, entries, split, splitError);
    if (NormalizeCentralDirectory(directory, length, entries, offsets, error)) {
        CHECK(splits && split.size() == entries);
        CHECK(offsets.size() == entries);
        size_t at = 0;
        for (uint32_t i = 0; i < entries; ++i) {
            CHECK(length - at >= 46);
            CHECK(GetField(directory + at + 12, 2) == FixedDosTime);
            CHECK(GetField(directory + at + 14, 2) == FixedDosDate);
            at += 46 + GetField(directory + at + 28, 2) + GetField(directory + at + 30, 2) +
                  GetField(directory + at + 32, 2);
            CHECK(at <= length);
        }
        const std::string once(reinterpret_cast<const char*>(directory), length);
        CHECK(NormalizeCentralDirectory(directory, length, entries, offsets, error));
        CHECK(std::string(reinterpret_cast<const char*>(directory), length) == once);
    } else {
        CHECK(!error.empty());
    }
    free(directory);
    return 0;
}
