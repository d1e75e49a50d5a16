// Removal of a working directory tree under Wine: what goes, and what must stay.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <utility>

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

// What a listing left open adds to: the handles this process holds (Wine
// answers 0) and the bytes in use in its heap, which keeps each listing's
// buffer (some 8 KiB under Wine, which also closes the directory's handle
// at the listing's end).
std::pair<DWORD, size_t> ProcessHoldings() {
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    HANDLE heap = GetProcessHeap();
    size_t bytes = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry) != FALSE) {
        if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
            bytes += entry.cbData;
        }
    }
    HeapUnlock(heap);
    return {handles, bytes};
}

// Runs a Unix tool of the Wine host (Z:\bin\<commandLine>) in dir, and
// waits until done() holds: Wine gives no handle to wait on for a Unix
// process. Wine makes no links itself (CreateSymbolicLink is a stub) but
// shows a Unix symbolic link to a directory as one: a directory with
// FILE_ATTRIBUTE_REPARSE_POINT.
bool RunUnixTool(const std::string& dir, const std::string& commandLine, const std::function<bool()>& done) {
    std::string command = "Z:\\bin\\" + commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup,
                        &child)) {
        return false;
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    for (int i = 0; i < 200 && !done(); ++i) {
        Sleep(50);
    }
    return done();
}

// A link named name in dir to target, relative to dir.
bool MakeLink(const std::string& dir, const std::string& target, const std::string& name) {
    const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return RunUnixTool(dir, "ln -s " + target + " " + name,
                       [&] { return (Attributes(dir + "\\" + name) & link) == link; });
}

// Removes the scratch directory name, links and all.
bool RemoveWithLinks(const std::string& name) {
    const std::string root = "C:\\setup-tests";
    CreateDirectoryA(root.c_str(), nullptr);
    // There for certain, so that its going is rm's doing.
    CreateDirectoryA((root + "\\" + name).c_str(), nullptr);
    return RunUnixTool(root, "rm -rf " + name, [&] { return !PathExists(root + "\\" + name); });
}

// Wide form with the \\?\ prefix, for paths past MAX_PATH.
std::wstring LongPath(const std::string& path) {
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

}  // namespace

// Both walks. Each closes the listing it opens in every directory: one left
// open per directory would add up over a large package.
TEST(RemoveDirectoryTree, RemovesReadOnlyFilesAndDeepTreesOnly) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide functions" : "ANSI functions only");
        std::string dir = MakeScratchDirectory("remove-deep");
        std::string tree = dir + "\\tree";
        MakeTree(tree,
                 {"", "\\a", "\\a\\b", "\\a\\b\\c", "\\a\\b\\c\\d", "\\a\\b\\c\\d\\e", "\\x", "\\x\\y"});
        ASSERT_TRUE(WriteTextFile(tree + "\\a\\b\\.dotfile", "x"));
        for (const char* readOnly : {"\\file.txt", "\\a\\b\\c\\d\\e\\file.txt", "\\x\\file.txt"}) {
            ASSERT_TRUE(SetFileAttributesA((tree + readOnly).c_str(), FILE_ATTRIBUTE_READONLY));
        }
        MakeCanaries(dir);
        // The tree's ".." is this directory: its attributes must stay as they are.
        ASSERT_TRUE(SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_HIDDEN));
        // A first removal, so that whatever the system keeps for good is in
        // place before the count.
        ASSERT_TRUE(CreateDirectoryA((dir + "\\first").c_str(), nullptr));
        LibraryLookupOverride = wide ? nullptr : WithoutWideFunctions;
        EXPECT_EQ(RemoveDirectoryTree((dir + "\\first").c_str()), 1);
        const std::pair<DWORD, size_t> holdings = ProcessHoldings();

        EXPECT_EQ(RemoveDirectoryTree(tree.c_str()), 1);
        EXPECT_EQ(ProcessHoldings(), holdings);
        EXPECT_FALSE(PathExists(tree));
        ExpectCanaries(dir);
        EXPECT_EQ(Attributes(dir), DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN});

        // A path that does not exist: nothing happens.
        EXPECT_EQ(RemoveDirectoryTree(tree.c_str()), 1);
        EXPECT_EQ(RemoveDirectoryTree((tree + "\\missing\\deeper").c_str()), 1);
        LibraryLookupOverride = nullptr;
        ExpectCanaries(dir);
        SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
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

// A link leads outside the tree: the walk never goes through one, whether it
// is the top of the removal or an entry inside, and whichever walk runs.
TEST(RemoveDirectoryTree, NeverWalksThroughALink) {
    // An earlier run's links: the harness's removal leaves them.
    ASSERT_TRUE(RemoveWithLinks("remove-link"));
    const std::string dir = MakeScratchDirectory("remove-link");
    ASSERT_FALSE(dir.empty());
    const std::string outside = dir + "\\outside";
    MakeTree(outside, {"", "\\inner"});
    ASSERT_TRUE(SetFileAttributesA((outside + "\\file.txt").c_str(), FILE_ATTRIBUTE_READONLY));

    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide functions" : "ANSI functions only");
        const std::string top = wide ? "top-wide" : "top-ansi";
        const std::string tree = dir + (wide ? "\\tree-wide" : "\\tree-ansi");
        MakeTree(tree, {""});
        ASSERT_TRUE(MakeLink(dir, "outside", top));
        ASSERT_TRUE(MakeLink(tree, "../outside", "link"));

        LibraryLookupOverride = wide ? nullptr : WithoutWideFunctions;
        EXPECT_EQ(RemoveDirectoryTree((dir + "\\" + top).c_str()), 1);
        EXPECT_EQ(RemoveDirectoryTree(tree.c_str()), 1);
        LibraryLookupOverride = nullptr;
        EXPECT_EQ(ReadTextFile(outside + "\\file.txt"), "x");
        EXPECT_EQ(Attributes(outside + "\\file.txt") & FILE_ATTRIBUTE_READONLY,
                  DWORD{FILE_ATTRIBUTE_READONLY});
        EXPECT_EQ(ReadTextFile(outside + "\\inner\\file.txt"), "x");
        EXPECT_FALSE(PathExists(tree + "\\file.txt"));
    }
    SetFileAttributesA((outside + "\\file.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(RemoveWithLinks("remove-link"));
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
