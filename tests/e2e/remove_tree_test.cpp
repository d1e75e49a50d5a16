// Removal of a working directory tree under Wine: what goes, and what must stay.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/library_function.h"
#include "harness.h"
#include "install/child_end.h"
#include "install/remove_tree.h"
#include "install/runners.h"
#include "install/working_directory.h"

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

// Removes the tree at path; returns how many entries were left.
unsigned long Remove(const std::string& path, TreeLeftover* left = nullptr) {
    TreeLeftover own;
    return RemoveDirectoryTree(path.c_str(), INVALID_HANDLE_VALUE, left != nullptr ? left : &own);
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
        EXPECT_EQ(Remove(dir + "\\first"), 0UL);
        const std::pair<DWORD, size_t> holdings = ProcessHoldings();

        EXPECT_EQ(Remove(tree), 0UL);
        EXPECT_EQ(ProcessHoldings(), holdings);
        EXPECT_FALSE(PathExists(tree));
        ExpectCanaries(dir);
        EXPECT_EQ(Attributes(dir), DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN});

        // A path that does not exist: nothing happens.
        EXPECT_EQ(Remove(tree), 0UL);
        EXPECT_EQ(Remove(tree + "\\missing\\deeper"), 0UL);
        LibraryLookupOverride = nullptr;
        ExpectCanaries(dir);
        SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

namespace {

// A stand-in for the wide file functions, where Wine cannot show what Windows
// does: it adds the attribute bits of extraBits to the listed entries of
// those names, which Wine does not keep on a directory (read-only,
// compressed, not indexed, encrypted) or on a file link (Wine lists one as
// its target), records which paths are entered, have their attributes set or
// are removed, and removes a directory link itself where Wine's
// RemoveDirectoryW cannot.
struct WideSeam {
    std::vector<std::pair<std::string, DWORD>> extraBits;
    std::vector<std::string> calls;  // "<function> <path without \\?\>"
} seam;

std::string Narrow(LPCWSTR path) {
    std::wstring wide(path);
    if (wide.compare(0, 4, L"\\\\?\\") == 0) {
        wide = wide.substr(4);
    }
    return std::string(wide.begin(), wide.end());
}

void AddBits(WIN32_FIND_DATAW* entry) {
    const std::wstring name = entry->cFileName;
    for (const auto& extra : seam.extraBits) {
        if (name == std::wstring(extra.first.begin(), extra.first.end())) {
            entry->dwFileAttributes |= extra.second;
        }
    }
}

HANDLE WINAPI SeamFindFirst(LPCWSTR pattern, LPWIN32_FIND_DATAW entry) {
    seam.calls.push_back("FindFirstFileW " + Narrow(pattern));
    HANDLE listing = FindFirstFileW(pattern, entry);
    if (listing != INVALID_HANDLE_VALUE) {
        AddBits(entry);
    }
    return listing;
}

BOOL WINAPI SeamFindNext(HANDLE listing, LPWIN32_FIND_DATAW entry) {
    BOOL found = FindNextFileW(listing, entry);
    if (found) {
        AddBits(entry);
    }
    return found;
}

BOOL WINAPI SeamSetAttributes(LPCWSTR path, DWORD attributes) {
    seam.calls.push_back("SetFileAttributesW " + Narrow(path));
    return SetFileAttributesW(path, attributes);
}

BOOL WINAPI SeamDelete(LPCWSTR path) {
    seam.calls.push_back("DeleteFileW " + Narrow(path));
    return DeleteFileW(path);
}

BOOL WINAPI SeamRemoveDirectory(LPCWSTR path) {
    seam.calls.push_back("RemoveDirectoryW " + Narrow(path));
    if (RemoveDirectoryW(path)) {
        return TRUE;
    }
    const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const std::string narrow = Narrow(path);
    const size_t slash = narrow.find_last_of('\\');
    if ((GetFileAttributesW(path) & link) != link ||
        !RunUnixTool(narrow.substr(0, slash), "rm " + narrow.substr(slash + 1),
                     [&] { return !PathExists(narrow); })) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

FARPROC SeamLookup(const char* library, const char* name) {
    const std::string function = name;
    const std::pair<const char*, FARPROC> stand_ins[] = {
        {"FindFirstFileW", reinterpret_cast<FARPROC>(SeamFindFirst)},
        {"FindNextFileW", reinterpret_cast<FARPROC>(SeamFindNext)},
        {"SetFileAttributesW", reinterpret_cast<FARPROC>(SeamSetAttributes)},
        {"DeleteFileW", reinterpret_cast<FARPROC>(SeamDelete)},
        {"RemoveDirectoryW", reinterpret_cast<FARPROC>(SeamRemoveDirectory)},
    };
    for (const auto& standIn : stand_ins) {
        if (function == standIn.first) {
            return standIn.second;
        }
    }
    HMODULE module = LoadLibraryA(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

bool Called(const std::string& call) {
    return std::find(seam.calls.begin(), seam.calls.end(), call) != seam.calls.end();
}

// Whether any call named a path below path.
bool CalledBelow(const std::string& path) {
    for (const std::string& call : seam.calls) {
        if (call.find(path + "\\") != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

// A directory takes on its parent's compression, encryption and
// not-indexed bits, or is read-only, hidden or system: each is entered and
// goes, read-only cleared first. (Wine keeps only the hidden and system bits
// on a directory; the others come through the stand-in listing.)
TEST(RemoveDirectoryTree, EntersDirectoriesWhateverTheirOtherBits) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide functions" : "ANSI functions only");
        std::string dir = MakeScratchDirectory("remove-attributes");
        std::string tree = dir + "\\tree";
        MakeTree(tree, {"", "\\hidden", "\\hidden\\system", "\\hidden\\system\\inner", "\\readonly",
                        "\\readonly\\inner", "\\compressed", "\\unindexed", "\\encrypted"});
        ASSERT_TRUE(SetFileAttributesA((tree + "\\hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
        ASSERT_TRUE(SetFileAttributesA((tree + "\\hidden\\system").c_str(), FILE_ATTRIBUTE_SYSTEM));
        ASSERT_EQ(Attributes(tree + "\\hidden\\system"),
                  DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM});
        MakeCanaries(dir);
        seam = {{{"readonly", FILE_ATTRIBUTE_READONLY},
                 {"compressed", FILE_ATTRIBUTE_COMPRESSED},
                 {"unindexed", FILE_ATTRIBUTE_NOT_CONTENT_INDEXED},
                 {"encrypted", FILE_ATTRIBUTE_ENCRYPTED}},
                {}};

        LibraryLookupOverride = wide ? SeamLookup : WithoutWideFunctions;
        EXPECT_EQ(Remove(tree), 0UL);
        LibraryLookupOverride = nullptr;
        EXPECT_FALSE(PathExists(tree));
        ExpectCanaries(dir);
        if (wide) {
            EXPECT_TRUE(Called("SetFileAttributesW " + tree + "\\readonly"));
            EXPECT_TRUE(Called("FindFirstFileW " + tree + "\\encrypted\\*"));
        }
    }
}

// A link leads outside the tree: the walk never goes through one, whether it
// is the top of the removal or an entry inside, and whichever walk runs. An
// entry inside goes as the link it is, and its target stays as it was.
// (Wine cannot remove a link to a directory, and lists a link to a file as
// the file: the stand-in does the one and shows the other.)
TEST(RemoveDirectoryTree, RemovesLinksAsLinksAndNeverWalksThroughThem) {
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
        ASSERT_TRUE(WriteTextFile(tree + "\\filelink", "the link's own bytes"));
        ASSERT_TRUE(MakeLink(dir, "outside", top));
        ASSERT_TRUE(MakeLink(tree, "../outside", "link"));
        seam = {{{"filelink", FILE_ATTRIBUTE_REPARSE_POINT}}, {}};

        LibraryLookupOverride = wide ? SeamLookup : WithoutWideFunctions;
        TreeLeftover left;
        EXPECT_EQ(Remove(dir + "\\" + top), wide ? 0UL : 1UL);
        EXPECT_EQ(Remove(tree, &left), wide ? 0UL : 2UL);
        LibraryLookupOverride = nullptr;
        EXPECT_EQ(ReadTextFile(outside + "\\file.txt"), "x");
        EXPECT_EQ(Attributes(outside + "\\file.txt") & FILE_ATTRIBUTE_READONLY,
                  DWORD{FILE_ATTRIBUTE_READONLY});
        EXPECT_EQ(ReadTextFile(outside + "\\inner\\file.txt"), "x");
        EXPECT_FALSE(PathExists(tree + "\\file.txt"));
        if (wide) {
            EXPECT_FALSE(PathExists(tree));
            EXPECT_FALSE(PathExists(dir + "\\" + top));
            EXPECT_TRUE(Called("RemoveDirectoryW " + tree + "\\link"));
            EXPECT_FALSE(CalledBelow(tree + "\\link"));
            EXPECT_FALSE(Called("SetFileAttributesW " + tree + "\\link"));
            // A file link: deleted as it is, its target's attributes untouched.
            EXPECT_TRUE(Called("DeleteFileW " + tree + "\\filelink"));
            EXPECT_FALSE(Called("SetFileAttributesW " + tree + "\\filelink"));
        } else {
            // Wine's own removal leaves the link, and so its directory: both named.
            EXPECT_EQ(left.Count, 2UL);
            EXPECT_STREQ(left.First, "link");
        }
    }
    SetFileAttributesA((outside + "\\file.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(RemoveWithLinks("remove-link"));
}

// Each level of the wide walk holds a listing on the stack; trees 100 and 200
// levels deep (past MAX_PATH) still go completely.
TEST(RemoveDirectoryTree, RemovesTreesHundredsOfLevelsDeep) {
    for (int levels : {100, 200}) {
        SCOPED_TRACE(levels);
        const std::string dir = MakeScratchDirectory("remove-deep-" + std::to_string(levels));
        ASSERT_FALSE(dir.empty());
        std::string level = dir + "\\tree";
        for (int i = 0; i < levels; ++i) {
            ASSERT_TRUE(CreateDirectoryW(LongPath(level).c_str(), nullptr)) << i;
            HANDLE file = CreateFileW(LongPath(level + "\\f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE) << i;
            CloseHandle(file);
            level += "\\d";
        }
        EXPECT_EQ(Remove(dir + "\\tree"), 0UL);
        EXPECT_FALSE(PathExists(dir + "\\tree"));
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

    // What stays is counted and the first of it named: the file, its
    // directory and the tree.
    TreeLeftover left;
    EXPECT_EQ(Remove(tree, &left), 3UL);
    EXPECT_STREQ(left.First, "held\\file.txt");
    EXPECT_EQ(left.Held, 1);
    EXPECT_TRUE(PathExists(tree + "\\held\\file.txt"));
    EXPECT_FALSE(PathExists(tree + "\\file.txt"));
    EXPECT_FALSE(PathExists(tree + "\\other"));

    TerminateProcess(child.hProcess, 0);
    WaitForSingleObject(child.hProcess, 30000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    // Once the file is let go, the rest goes as well.
    EXPECT_EQ(Remove(tree), 0UL);
    EXPECT_FALSE(PathExists(tree));
}

// The tree's own directory, the current directory of a process that runs
// on, counts as still open, so the removal waits a moment for it as for a
// file; once the process has ended, nothing is left and nothing is open.
TEST(RemoveDirectoryTree, CurrentDirectoryOfAnotherProcessCountsAsOpen) {
    std::string dir = MakeScratchDirectory("remove-current");
    std::string tree = dir + "\\tree";
    MakeTree(tree, {""});
    std::string ready = dir + "\\ready.txt";
    std::string command = TestProgramDirectory() + "\\record_child.exe --out " + ready + " --sleep 60000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, tree.c_str(),
                               &startup, &child));
    for (int i = 0; i < 600 && !PathExists(ready); ++i) {
        Sleep(50);
    }
    ASSERT_TRUE(PathExists(ready));
    TreeLeftover left;
    EXPECT_EQ(Remove(tree, &left), 1UL);
    EXPECT_EQ(left.Held, 1);
    TerminateProcess(child.hProcess, 0);
    WaitForSingleObject(child.hProcess, 30000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(Remove(tree, &left), 0UL);
    EXPECT_EQ(left.Held, 0);
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
        EXPECT_EQ(Remove(tree), wide ? 0UL : 1UL);
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

namespace {

// Starts record_child.exe with args in directory; false when it did not start.
bool StartChild(const std::string& args, const std::string& directory, PROCESS_INFORMATION* child) {
    std::string command = TestProgramDirectory() + "\\record_child.exe " + args;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    *child = {};
    return CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                          directory.empty() ? nullptr : directory.c_str(), &startup, child) != FALSE;
}

}  // namespace

// Something that still has an entry open a moment longer (the console of a
// child that has just ended keeps its current directory) holds the removal
// up only that long.
TEST(RemoveWorkingDirectory, WaitsAMomentForWhatIsStillOpen) {
    const std::string dir = MakeScratchDirectory("remove-retry");
    const std::string tree = dir + "\\tree";
    MakeTree(tree, {"", "\\sub"});
    const std::string record = dir + "\\record.txt";
    PROCESS_INFORMATION child;
    ASSERT_TRUE(StartChild("--out " + record + " --sleep 700", tree + "\\sub", &child));
    for (int i = 0; i < 600 && !PathExists(record); ++i) {
        Sleep(50);
    }
    ASSERT_TRUE(PathExists(record));

    RemoveWorkingDirectory(tree.c_str(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(PathExists(tree));
    WaitForSingleObject(child.hProcess, 30000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

// From its creation until just before its removal, the working directory is
// held: no one can rename it or put another in its place. The handle is not
// passed on to child processes.
TEST(MakeWorkingDirectory, HoldsTheDirectoryUntilItsRemoval) {
    const std::string temp = MakeScratchDirectory("working-held") + "\\";
    char directory[MAX_PATH];
    ASSERT_LT(snprintf(directory, sizeof directory, "%sQUILLER", temp.c_str()), MAX_PATH);
    HANDLE held = INVALID_HANDLE_VALUE;
    ASSERT_EQ(MakeWorkingDirectory(temp.c_str(), directory, &held), 1);
    EXPECT_EQ(std::string(directory), temp + "QUILLER");
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(held, &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0UL);
    EXPECT_FALSE(MoveFileA(directory, (temp + "moved").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // Closed to other accounts: Wine keeps no DACL, but reads one back from
    // what the creating call was given, and default security grants everyone
    // (WD) reading.
    char descriptor[4096];
    DWORD needed = 0;
    ASSERT_TRUE(
        GetFileSecurityA(directory, DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed));
    LPSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_EQ(std::string(text).find(";WD)"), std::string::npos) << text;
    LocalFree(text);
    ASSERT_TRUE(WriteTextFile(std::string(directory) + "\\file.txt", "x"));

    RemoveWorkingDirectory(directory, held);
    EXPECT_FALSE(PathExists(directory));
    EXPECT_FALSE(PathExists(temp + "moved"));
    EXPECT_FALSE(GetHandleInformation(held, &flags)) << "still open";
}

// A system without job objects, where the runners wait for the primary thread.
FARPROC WithoutJobs(const char* library, const char* name) {
    if (std::string(name) == "CreateJobObjectA") {
        return nullptr;
    }
    HMODULE module = LoadLibraryA(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

// Without a job: after its primary thread, a child process is waited for
// until it ends, a moment later, and so has let go of its current directory;
// one that lives on is waited for only so long. Either way its handle is
// closed.
TEST(ChildEnd, RunnersWaitForTheProcessAfterItsPrimaryThread) {
    LibraryLookupOverride = WithoutJobs;
    const std::string dir = MakeScratchDirectory("child-end");
    const std::string child = TestProgramDirectory() + "\\record_child.exe --out " + dir + "\\record.txt";
    const std::string done = dir + "\\done.txt";
    EXPECT_EQ(RunProgram(dir.c_str(), (child + " --thread 300 --done " + done).c_str()), 0);
    EXPECT_TRUE(PathExists(done));

    ASSERT_TRUE(DeleteFileA(done.c_str()));
    // Its second thread lives far longer than the short wait after the
    // primary thread: the runner has returned before the child's end.
    ChildEndLimit = 200;
    EXPECT_EQ(RunProgram(dir.c_str(), (child + " --thread 10000 --done " + done).c_str()), 0);
    EXPECT_FALSE(PathExists(done));
    ChildEndLimit = 1000;
    LibraryLookupOverride = nullptr;

    PROCESS_INFORMATION process;
    ASSERT_TRUE(StartChild("--out " + dir + "\\record2.txt", dir, &process));
    WaitForSingleObject(process.hThread, 30000);
    CloseHandle(process.hThread);
    EndChildProcess(process.hProcess);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(process.hProcess, &flags)) << "still open";
    for (int i = 0; i < 300 && !PathExists(done); ++i) {
        Sleep(50);  // the second child's end, before its directory is reused
    }
}
