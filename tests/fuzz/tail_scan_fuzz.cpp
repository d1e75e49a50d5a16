// Fuzzes the tag search over arbitrary executable tails of 0 to 300 bytes against a plain model.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "launcher/tail_scan.h"
#include "tests/fuzz/fuzz_check.h"

// Only the first TailRegionSize bytes given count, and a zero byte is a "^"
// rather than the end of the text.
static bool ModelHas(const std::string& tail, const std::string& tag) {
    std::string region = tail.substr(0, TailRegionSize);
    for (char& c : region) {
        if (c == '\0') {
            c = '^';
        }
    }
    return region.find(tag) != std::string::npos;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 301) {
        return 0;
    }
    // The first byte picks the tag: one the program asks for, or a tag made
    // of the tail's own bytes (so that matches at every offset are tried).
    static const char* const tags[] = {"debug.tag", "msi.tag", "nt4.tag", "w2k.tag", "wxp.tag",
                                       "x64.tag",   "s23.tag", "vst.tag", "^",       "^^^^^^^^"};
    const std::string tail(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string tag;
    if (data[0] < 160 || tail.empty()) {
        tag = tags[data[0] % 10];
    } else {
        size_t from = data[0] % tail.size();
        tag = tail.substr(from, 1 + data[0] % 12);
        tag = tag.substr(0, strnlen(tag.c_str(), tag.size()));
    }

    // An exact-size copy, not terminated: any read past the bytes given is caught.
    char* bytes = static_cast<char*>(malloc(tail.empty() ? 1 : tail.size()));
    std::copy(tail.begin(), tail.end(), bytes);
    CHECK(TailHasTag(bytes, tail.size(), tag.c_str()) == (ModelHas(tail, tag) ? 1 : 0));
    // A short read: only the bytes read are searched.
    const size_t shorter = tail.size() / 2;
    CHECK(TailHasTag(bytes, shorter, tag.c_str()) == (ModelHas(tail.substr(0, shorter), tag) ? 1 : 0));
    free(bytes);
    return 0;
}
