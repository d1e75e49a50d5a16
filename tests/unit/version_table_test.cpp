// The version classification, row by row, including the versions no row supports.
#include <gtest/gtest.h>

#include <string>

#include "launcher/version_table.h"

TEST(VersionTagFor, ClassifiesEachVersionIntoOneTag) {
    const struct {
        unsigned major;
        unsigned minor;
        unsigned architecture;
        const char* tag;  // nullptr: never supported
    } rows[] = {
        {4, 0, 0, "nt4.tag"}, {4, 10, 0, "nt4.tag"}, {4, 90, 9, "nt4.tag"}, {5, 0, 0, "w2k.tag"},
        {5, 0, 9, "w2k.tag"}, {5, 1, 0, "wxp.tag"},  {5, 1, 9, "wxp.tag"},  {5, 2, 9, "x64.tag"},
        {5, 2, 0, "s23.tag"}, {5, 2, 6, "s23.tag"},  {5, 2, 12, "s23.tag"}, {5, 3, 9, nullptr},
        {5, 3, 0, nullptr},   {6, 0, 0, "vst.tag"},  {6, 1, 9, "vst.tag"},  {6, 2, 0, "vst.tag"},
        {6, 3, 9, "vst.tag"}, {7, 0, 0, nullptr},    {10, 0, 9, nullptr},   {3, 51, 0, nullptr},
        {0, 0, 0, nullptr},
    };
    for (const auto& row : rows) {
        const char* tag = VersionTagFor(row.major, row.minor, row.architecture);
        EXPECT_EQ(std::string(tag != nullptr ? tag : "<none>"),
                  std::string(row.tag != nullptr ? row.tag : "<none>"))
            << row.major << "." << row.minor << " architecture " << row.architecture;
    }
}
