// Removal of a working directory tree under Wine: what goes, and what must stay.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/library_function.h"
#include "harness.h"
#include "install/remove_tree.h"

namespace {

DWORD Attributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

// Makes each directory of the list, in order, and a small file in it.
void MakeTree(const std::string& root, std::initializer_list<const char*> directories) {
    for (const char* directory : directories) {
        std::string path = root + directory;
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
        ASSERT_TRUE(WriteTextFile(path + "\\file.txt", "x")) << path;
    }
}

// Files and a directory beside the tree that must survive its removal.
void MakeCanaries(const std::string& dir) {
    ASSERT_TRUE(WriteTextFile(dir + "\\canary.txt", "canary"));
    ASSERT_TRUE(SetFileAttributesA((dir + "\\canary.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteTextFile(dir + "\\tree.txt", "canary"));
    ASSERT_TRUE(CreateDirectoryA((dir + "\\tree2").c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(dir + "\\tree2\\keep.txt", "canary"));
}

void ExpectCanaries(const std::string& dir) {
    EXPECT_EQ(ReadTextFile(dir + "\\canary.txt"), "canary");
    EXPECT_EQ(Attributes(dir + "\\canary.txt") & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY});
    EXPECT_EQ(ReadTextFile(dir + "\\tree.txt"), "canary");
    EXPECT_EQ(ReadTextFile(dir + "\\tree2\\keep.txt"), "canary");
}

// The lookup of a system without the wide file functions.
FARPROC WithoutWideFunctions(const char* library, const char* name) {
    const std::string function = name;
    if (function.back() == 'W') {
        return nullptr;
    }
    HMODULE module = LoadLibraryA(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

// Wide form with the \\?\ prefix, for paths past MAX_PATH.
std::wstring LongPath(const std::string& path) {
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

}  // namespace

TEST(RemoveDirectoryTree, RemovesReadOnlyFilesAndDeepTreesOnly) {
    std::string dir = MakeScratchDirectory("remove-deep");
    std::string tree = dir + "\\tree";
    MakeTree(tree, {"", "\\a", "\\a\\b", "\\a\\b\\c", "\\a\\b\\c\\d", "\\a\\b\\c\\d\\e", "\\x", "\\x\\y"});
    ASSERT_TRUE(WriteTextFile(tree + "\\a\\b\\.dotfile", "x"));
    for (const char* readOnly : {"\\file.txt", "\\a\\b\\c\\d\\e\\file.txt", "\\x\\file.txt"}) {
        ASSERT_TRUE(SetFileAttributesA((tree + readOnly).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    MakeCanaries(dir);
    // The tree's ".." is this directory: its attributes must stay as they are.
    ASSERT_TRUE(SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_HIDDEN));

    EXPECT_EQ(RemoveDirectoryTree(tree.c_str()), 1);
    EXPECT_FALSE(PathExists(tree));
    ExpectCanaries(dir);
    EXPECT_EQ(Attributes(dir), DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN});

    // A path that does not exist: nothing happens.
    EXPECT_EQ(RemoveDirectoryTree(tree.c_str()), 1);
    EXPECT_EQ(RemoveDirectoryTree((tree + "\\missing\\deeper").c_str()), 1);
    ExpectCanaries(dir);
    SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(RemoveDirectoryTree, NeverEntersADirectoryWithFurtherAttributeBits) {
    for (DWORD bit : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
        SCOPED_TRACE(bit);
        std::string dir = MakeScratchDirectory("remove-attributes");
        std::string tree = dir + "\\tree";
        MakeTree(tree, {"", "\\keep", "\\keep\\marked", "\\keep\\marked\\inner", "\\gone"});
        ASSERT_TRUE(SetFileAttributesA((tree + "\\keep\\marked").c_str(), bit));
        ASSERT_EQ(Attributes(tree + "\\keep\\marked"), FILE_ATTRIBUTE_DIRECTORY | bit);
        MakeCanaries(dir);

        EXPECT_EQ(RemoveDirectoryTree(tree.c_str()), 1);
        EXPECT_TRUE(PathExists(tree + "\\keep\\marked\\file.txt"));
        EXPECT_TRUE(PathExists(tree + "\\keep\\marked\\inner\\file.txt"));
        EXPECT_EQ(Attributes(tree + "\\keep\\marked"), FILE_ATTRIBUTE_DIRECTORY | bit);
        EXPECT_FALSE(PathExists(tree + "\\keep\\file.txt"));
        EXPECT_FALSE(PathExists(tree + "\\file.txt"));
        EXPECT_FALSE(PathExists(tree + "\\gone"));
        ExpectCanaries(dir);
        SetFileAttributesA((tree + "\\keep\\marked").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST(RemoveDirectoryTree, FileHeldOpenByAnotherProcessStaysWithItsParents) {
    std::string dir = MakeScratchDirectory("remove-held");
    std::string tree = dir + "\\tree";
    MakeTree(tree, {"", "\\held", "\\other"});
    std::string ready = dir + "\\ready.txt";
    std::string command = TestProgramDirectory() + "\\record_child.exe --hold " + tree +
                          "\\held\\file.txt --out " + ready + " --sleep 60000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    for (int i = 0; i < 600 && !PathExists(ready); ++i) {
        Sleep(50);
    }
    ASSERT_TRUE(PathExists(ready));

    EXPECT_EQ(RemoveDirectoryTree(tree.c_str()), 1);
    EXPECT_TRUE(PathExists(tree + "\\held\\file.txt"));
    EXPECT_FALSE(PathExists(tree + "\\file.txt"));
    EXPECT_FALSE(PathExists(tree + "\\other"));

    TerminateProcess(child.hProcess, 0);
    WaitForSingleObject(child.hProcess, 30000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    // Once the file is let go, the rest goes as well.
    EXPECT_EQ(RemoveDirectoryTree(tree.c_str()), 1);
    EXPECT_FALSE(PathExists(tree));
}

// Past MAX_PATH the wide functions reach every entry; where a system has
// none (the 4.x family), the ANSI walk leaves what its buffer cannot name,
// untouched, and the directories above it.
TEST(RemoveDirectoryTree, EntriesPastMaxPathGoWhereTheSystemAllows) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide functions" : "ANSI functions only");
        const std::string dir = "C:\\setup-tests\\remove-long";
        const std::string tree = dir + "\\tree";
        // Full paths of 259 characters fit the 260-byte buffer; 260 do not.
        const std::string fits = tree + "\\" + std::string(259 - tree.size() - 1, 'f');
        const std::string file = tree + "\\" + std::string(260 - tree.size() - 1, 'g');
        const std::string directory = tree + "\\" + std::string(260 - tree.size() - 1, 'd');
        // The harness removes scratch trees through MAX_PATH-bound calls: clear a
        // previous run's long entries first.
        DeleteFileW(LongPath(directory + "\\x").c_str());
        RemoveDirectoryW(LongPath(directory).c_str());
        SetFileAttributesW(LongPath(file).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(LongPath(file).c_str());
        ASSERT_EQ(MakeScratchDirectory("remove-long"), dir);
        ASSERT_TRUE(CreateDirectoryA(tree.c_str(), nullptr));
        for (const std::string& path : {fits, file}) {
            HANDLE handle = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_READONLY, nullptr);
            ASSERT_NE(handle, INVALID_HANDLE_VALUE) << path;
            CloseHandle(handle);
        }
        ASSERT_TRUE(CreateDirectoryW(LongPath(directory).c_str(), nullptr));
        HANDLE inner = CreateFileW(LongPath(directory + "\\x").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   0, nullptr);
        ASSERT_NE(inner, INVALID_HANDLE_VALUE);
        CloseHandle(inner);

        LibraryLookupOverride = wide ? nullptr : WithoutWideFunctions;
        EXPECT_EQ(RemoveDirectoryTree(tree.c_str()), 1);
        LibraryLookupOverride = nullptr;
        EXPECT_EQ(GetFileAttributesW(LongPath(fits).c_str()), INVALID_FILE_ATTRIBUTES);
        if (wide) {
            EXPECT_FALSE(PathExists(tree));
        } else {
            // Still there, and still read-only: not even its attributes were touched.
            EXPECT_EQ(GetFileAttributesW(LongPath(file).c_str()) &
                          (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY),
                      DWORD{FILE_ATTRIBUTE_READONLY});
            EXPECT_NE(GetFileAttributesW(LongPath(directory + "\\x").c_str()), INVALID_FILE_ATTRIBUTES);
            EXPECT_TRUE(PathExists(tree));
        }
    }
}
