// The real extractor, as the packages carry it, extracts an archive under Wine.
#include <gtest/gtest.h>

#include "harness.h"

TEST(Extractor, ExtractsTheSampleArchiveAndOverwritesWithoutAsking) {
    const std::string build = TestProgramDirectory();
    const std::string scratch = MakeScratchDirectory("extractor");
    ASSERT_FALSE(scratch.empty());
    ASSERT_TRUE(CopyFileTo(build + "\\sample.zip", scratch + "\\package.zip"));

    RunOptions options;
    options.exe = build + "\\unzip.exe";
    options.args = "-o \"" + scratch + "\\package.zip\" -d " + scratch + "\\out";
    RunResult first = RunAndRecord(options);
    ASSERT_EQ(first.startError, 0UL);
    EXPECT_EQ(first.exitCode, 0UL);
    EXPECT_EQ(ReadTextFile(scratch + "\\out\\hello.txt"), "hello from the sample archive\r\n");
    EXPECT_EQ(ReadTextFile(scratch + "\\out\\sub\\inner.txt"), "inner file\r\n");

    // -o replaces a changed file without a prompt (there is nobody to answer one).
    ASSERT_TRUE(WriteTextFile(scratch + "\\out\\hello.txt", "changed"));
    RunResult second = RunAndRecord(options);
    EXPECT_EQ(second.exitCode, 0UL);
    EXPECT_EQ(ReadTextFile(scratch + "\\out\\hello.txt"), "hello from the sample archive\r\n");
    EXPECT_TRUE(second.boxes.empty());
}
