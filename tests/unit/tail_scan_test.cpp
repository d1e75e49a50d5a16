// The tag search over the executable's tail: window, zero bytes, case, short reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/tail_scan.h"

static int Has(const std::string& tail, const char* tag) {
    return TailHasTag(tail.data(), tail.size(), tag);
}

TEST(TailHasTag, FindsTagsAsCaseSensitiveSubstrings) {
    const std::string image(300, '\0');  // the end of an image is zero padding
    const struct {
        std::string tail;
        const char* tag;
        int found;
    } rows[] = {
        {"wxp.tag\r\n", "wxp.tag", 1},
        {"WXP.TAG\r\n", "wxp.tag", 0},
        {"xwxp.tag\r\n", "wxp.tag", 1},
        {"wxp.tag  \r\n", "wxp.tag", 1},  // trailing blanks
        {"wxp.ta\r\n", "wxp.tag", 0},
        {std::string("w2k.tag\r\n\0\0wxp.tag\r\n", 20), "wxp.tag", 1},  // zeros between lines
        {std::string("w2k.tag\r\n\0\0wxp.tag\r\n", 20), "w2k.tag", 1},
        {"", "wxp.tag", 0},
    };
    for (const auto& row : rows) {
        std::string tail = image + row.tail;
        tail = tail.substr(tail.size() - TailRegionSize);
        EXPECT_EQ(Has(tail, row.tag), row.found) << row.tail;
    }
}

TEST(TailHasTag, SeesOnlyTheBytesGivenAndAtMostTheRegion) {
    // A tag cut by the start of the window is not seen; one just inside is.
    std::string cut = "p.tag\r\n" + std::string(TailRegionSize - 7, 'x');
    ASSERT_EQ(cut.size(), static_cast<size_t>(TailRegionSize));
    EXPECT_EQ(Has(cut, "wxp.tag"), 0);
    EXPECT_EQ(Has("wxp.tag" + std::string(TailRegionSize - 7, 'x'), "wxp.tag"), 1);

    // Bytes past the region are not looked at, even when the caller has more.
    std::string longer = std::string(TailRegionSize, 'x') + "wxp.tag";
    EXPECT_EQ(TailHasTag(longer.data(), longer.size(), "wxp.tag"), 0);

    // A short read: only the bytes read count, whatever follows in the buffer.
    char buffer[TailRegionSize];
    memset(buffer, 'x', sizeof buffer);
    memcpy(buffer, "w2k.tag\r\n", 9);
    memcpy(buffer + 20, "wxp.tag", 7);
    EXPECT_EQ(TailHasTag(buffer, 9, "w2k.tag"), 1);
    EXPECT_EQ(TailHasTag(buffer, 9, "wxp.tag"), 0);
    EXPECT_EQ(TailHasTag(buffer, 26, "wxp.tag"), 0);  // one byte short of the tag
    EXPECT_EQ(TailHasTag(buffer, 27, "wxp.tag"), 1);
    EXPECT_EQ(TailHasTag(buffer, 0, "wxp.tag"), 0);
}
