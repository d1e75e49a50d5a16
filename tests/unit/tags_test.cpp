// Tags appended to the executable, read from the file RunState names: the
// edges of the tail region, and a file another process holds open.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/run_state.h"
#include "launcher/tags.h"
#include "launcher/tail_scan.h"

namespace {

bool WriteBytes(const char* path, const std::string& bytes) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

TEST(ProgramTail, TagsAtTheEdgesOfTheRegionAndWhileTheFileIsOpenElsewhere) {
    CreateDirectoryA("C:\\setup-tests", nullptr);
    const char path[] = "C:\\setup-tests\\unit-tail.exe";
    const std::string image(4000, '\0');
    const std::string tag = "vst.tag";
    const struct {
        size_t after;  // bytes after the tag
        int seen;
    } rows[] = {
        {0, 1},                                // ends at the last byte
        {TailRegionSize - tag.size(), 1},      // starts at the region's first byte
        {TailRegionSize - tag.size() + 1, 0},  // one byte earlier: cut
    };
    const RunStateRecord saved = RunState;
    RunState.ProgramPath = path;
    for (const auto& row : rows) {
        ASSERT_TRUE(WriteBytes(path, image + tag + std::string(row.after, '=')));
        EXPECT_EQ(IsTagInProgramTail("vst.tag"), row.seen) << row.after;
    }
    // Another process (a virus scanner, say) reading the file meanwhile.
    ASSERT_TRUE(WriteBytes(path, image + tag));
    HANDLE reader = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(IsTagInProgramTail("vst.tag"), 1);
    CloseHandle(reader);
    RunState = saved;
    DeleteFileA(path);
}
