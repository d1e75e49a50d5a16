// Bounded copy, append and format: buffers one short, exactly full and one over.
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

TEST(CopyText, FitsExactlyAndReportsOneOver) {
    char buffer[6];
    EXPECT_EQ(CopyText(buffer, "abcd"), 1);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(CopyText(buffer, "abcde"), 1);  // five characters and the terminator
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(CopyText(buffer, "abcdef"), 0);
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(CopyText(buffer, 0, "x"), 0);  // no room even for the terminator
    EXPECT_EQ(CopyText(buffer, nullptr), 1);
    EXPECT_STREQ(buffer, "");
}

TEST(AppendText, AppendsWithinTheBufferOnly) {
    char buffer[8] = "abc";
    EXPECT_EQ(AppendText(buffer, "defg"), 1);
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_EQ(AppendText(buffer, "h"), 0);
    EXPECT_STREQ(buffer, "abcdefg");

    char unterminated[4] = {'w', 'x', 'y', 'z'};
    EXPECT_EQ(AppendText(unterminated, "a"), 0);
    EXPECT_EQ(unterminated[3], '\0');
}

TEST(FormatText, ConversionsAndBounds) {
    char buffer[64];
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "%s\\%s", "C:\\pkg", "unzip.exe"), 1);
    EXPECT_STREQ(buffer, "C:\\pkg\\unzip.exe");
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "rc = %i.", -2147483647 - 1), 1);
    EXPECT_STREQ(buffer, "rc = -2147483648.");
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "%c%c 100%% %d", '-', 'S', 258), 1);
    EXPECT_STREQ(buffer, "-S 100% 258");
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "%04u%02u-%03u", 2026U, 7U, 5U), 1);
    EXPECT_STREQ(buffer, "202607-005");

    // One short, exactly full and one over, for a string and a number.
    char small[5];
    EXPECT_EQ(FormatText(small, sizeof small, "%s", "abc"), 1);
    EXPECT_EQ(FormatText(small, sizeof small, "%s", "abcd"), 1);
    EXPECT_EQ(FormatText(small, sizeof small, "%s", "abcde"), 0);
    EXPECT_STREQ(small, "abcd");
    EXPECT_EQ(FormatText(small, sizeof small, "%i", 12345), 0);
    EXPECT_STREQ(small, "1234");
}

TEST(FormatText, LongArgumentsNeverOverrunTheBuffer) {
    std::string longText(5000, 'x');
    char buffer[260];
    buffer[259] = 'G';  // overwritten by the terminator
    char guard[8] = "guard";
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "Current: %s\nRun: %s", longText.c_str(), "C:\\"), 0);
    EXPECT_EQ(std::string(buffer).size(), 259U);
    EXPECT_STREQ(guard, "guard");
}

TEST(ContainsText, IsAPlainCaseSensitiveSubstringTest) {
    EXPECT_EQ(ContainsText("xwxp.tag\r\n", "wxp.tag"), 1);
    EXPECT_EQ(ContainsText("WXP.TAG", "wxp.tag"), 0);
    EXPECT_EQ(ContainsText("", "a"), 0);
}
