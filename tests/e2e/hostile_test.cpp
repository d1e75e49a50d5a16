// setup.exe under Wine against hostile inputs: over-long arguments, paths at and past MAX_PATH, odd
// names, broken packages, stray tags and a deep working tree. Every run must end with its exit code
// and boxes, create nothing at a cut path and leave every file around the working directory as it was.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

// Without this each box costs Wine's 2 s wait for a window manager the test display lacks.
class UnmanagedBoxes : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SkipWindowManagerWait("setup.exe")); }
};
::testing::Environment* const kUnmanagedBoxes = ::testing::AddGlobalTestEnvironment(new UnmanagedBoxes);

const char kScratch[] = "C:\\setup-tests";
const char kProductTitle[] = "Velmora Quillet Check 1.9";
const char kNoticeText[] = "Copying Files. Please wait.";
const char kShortTitle[] = "Velmora Quillet";
const char kRefusalTitle[] = "Quillet Check";
const char kRefusal[] = "This program is not for use under this operating system.";
const size_t kLimit = 259;  // the longest path or command line a 260-byte buffer holds

const std::vector<std::string> kAllVersionTags = {"nt4.tag", "w2k.tag", "wxp.tag",
                                                  "x64.tag", "s23.tag", "vst.tag"};

// Paths here are UTF-8, so that names the ANSI code page cannot spell can be
// written too; what the program itself reports (its boxes, the installer's
// log) is ANSI and is read through FromAnsi. Long paths are reached through
// the wide functions and the \\?\ prefix, which the program itself never uses.
std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8) {
    int length = MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], length, nullptr,
                        nullptr);
    return narrow;
}

std::string FromAnsi(const std::string& text) {
    return Narrow(Wide(text, CP_ACP));
}

// The short (8.3) form of an existing path, the spelling the program must use
// for a name the ANSI code page cannot spell.
std::string ShortForm(const std::string& path) {
    wchar_t shortPath[1024];
    DWORD length = GetShortPathNameW(Wide(path).c_str(), shortPath, 1024);
    return length == 0 || length >= 1024 ? std::string("(no short form)") : Narrow(shortPath);
}

// text with "%SHORT%" replaced by shortForm.
std::string Expand(std::string text, const std::string& shortForm) {
    const std::string mark = "%SHORT%";
    size_t at = text.find(mark);
    if (at != std::string::npos) {
        text.replace(at, mark.size(), shortForm);
    }
    return text;
}

std::wstring Long(const std::string& path) {
    return L"\\\\?\\" + Wide(path);
}

bool MakeDirectory(const std::string& path) {
    return CreateDirectoryW(Long(path).c_str(), nullptr) != FALSE;
}

bool WriteFileAt(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok != FALSE && written == content.size();
}

std::string ReadFileAt(const std::string& path) {
    HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string content;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) != FALSE && got > 0) {
        content.append(chunk, got);
    }
    CloseHandle(file);
    return content;
}

// Names in one directory, "." and ".." left out.
std::vector<std::pair<std::string, bool>> List(const std::string& directory) {
    std::vector<std::pair<std::string, bool>> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((Long(directory) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return entries;
    }
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            entries.emplace_back(Narrow(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        }
    } while (FindNextFileW(search, &found) != FALSE);
    FindClose(search);
    return entries;
}

// Removes a tree of any depth, read-only files included; leftovers of an
// earlier run can be longer than the program or the harness could reach.
void RemoveLongTree(const std::string& path) {
    for (const auto& entry : List(path)) {
        std::string full = path + "\\" + entry.first;
        if (entry.second) {
            RemoveLongTree(full);
        } else {
            SetFileAttributesW(Long(full).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(Long(full).c_str());
        }
    }
    RemoveDirectoryW(Long(path).c_str());
}

// Every file and directory below a root: relative path to size and content hash (-1 for a directory).
struct Entry {
    long long size = -1;
    size_t hash = 0;
};
using Snapshot = std::map<std::string, Entry>;

void Walk(const std::string& root, const std::string& relative, Snapshot& snapshot) {
    for (const auto& entry : List(relative.empty() ? root : root + "\\" + relative)) {
        std::string name = relative.empty() ? entry.first : relative + "\\" + entry.first;
        if (entry.second) {
            snapshot[name] = Entry();
            Walk(root, name, snapshot);
        } else {
            std::string content = ReadFileAt(root + "\\" + name);
            snapshot[name] = Entry{static_cast<long long>(content.size()), std::hash<std::string>()(content)};
        }
    }
}

Snapshot Take(const std::string& root) {
    Snapshot snapshot;
    Walk(root, "", snapshot);
    return snapshot;
}

std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : List(directory)) {
        names.push_back(entry.first);
    }
    return names;
}

// The names among these that no test has claimed (by now: a claim is for
// good): what a program made in the scratch root. The other tests' scratch
// directories come and go there meanwhile.
std::vector<std::string> Strays(const std::vector<std::string>& names) {
    std::vector<std::string> strays;
    for (const std::string& name : names) {
        if (!IsScratchName(name)) {
            strays.push_back(name);
        }
    }
    return strays;
}

bool Under(const std::string& path, const std::string& prefix) {
    return !prefix.empty() && (path == prefix || path.compare(0, prefix.size() + 1, prefix + "\\") == 0);
}

bool UnderAny(const std::string& path, const std::vector<std::string>& prefixes) {
    for (const std::string& prefix : prefixes) {
        if (Under(path, prefix)) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> LogLines(const std::string& path) {
    std::vector<std::string> lines = SplitLines(ReadFileAt(path));
    for (std::string& line : lines) {
        line = FromAnsi(line);
    }
    return lines;
}

// The sweep's figures for this process, printed at its end for the record.
struct Figures {
    int tried = 0;
    int passed = 0;
    long long bytesLost = 0;
} figures;

class PrintFigures : public ::testing::Environment {
public:
    void TearDown() override {
        if (figures.tried == 0) {
            return;  // another suite of this program
        }
        std::printf("hostile sweep: %d inputs tried, %d passed, bytes lost: %lld\n", figures.tried,
                    figures.passed, figures.bytesLost);
    }
};
::testing::Environment* const kPrintFigures = ::testing::AddGlobalTestEnvironment(new PrintFigures);

int FailureCount() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// One hostile run and everything it must leave as it was.
struct HostileRun {
    std::string name;
    std::string package;  // setup.exe's directory; empty: the case root
    std::string args;
    std::string currentDir;                                // empty: the case root
    std::vector<std::pair<std::string, std::string>> env;  // on top of TEMP, TMP and the installer log
    std::string temp;                                      // TEMP and TMP; empty: <root>\temp
    unsigned long exitCode = 1;
    std::vector<std::pair<std::string, std::string>> boxes;  // exactly these, in order (title, text)
    bool debugBoxes = false;   // debug mode: boxes of ShortTitle come first, then `boxes`
    bool notice = false;       // interactive: the please-wait box may show, and nothing else
    std::string installer;     // the installer's expected command line; empty: it must not run
    std::string installerDir;  // and its directory
    std::string shortOf;       // a directory the run creates: "%SHORT%" in the two above is its short form
    std::vector<std::string> mayAppear;  // relative to the root: trees the run may create
    std::vector<std::string> mayGo;      // relative to the root: trees the run may remove
    std::function<void(const Snapshot&, const Snapshot&)> more;  // further checks on before and after
};

class Sweep {
public:
    explicit Sweep(const std::string& root) : root_(root) {}

    void Check(const HostileRun& run) {
        SCOPED_TRACE(run.name);
        const int failuresBefore = FailureCount();
        ++figures.tried;
        const std::string log = root_ + "\\installer.log";
        DeleteFileW(Long(log).c_str());
        const std::string temp = run.temp.empty() ? root_ + "\\temp" : run.temp;
        const Snapshot before = Take(root_);
        const std::vector<std::string> driveBefore = Names("C:");
        const std::vector<std::string> scratchBefore = Names(kScratch);

        RunOptions options;
        options.exe = (run.package.empty() ? root_ : run.package) + "\\setup.exe";
        options.args = run.args;
        options.utf8 = true;
        options.currentDir = run.currentDir.empty() ? root_ : run.currentDir;
        options.env = {{"TEMP", temp}, {"TMP", temp}, {"SETUP_TEST_LOG", log}, {"SETUP_TEST_MODE", ""}};
        options.env.insert(options.env.end(), run.env.begin(), run.env.end());
        options.timeoutMs = 60000;
        RunResult result = RunAndRecord(options);

        // It ran, ended by itself, and with exactly the expected code: an
        // access violation (0xC0000005) or any other exception code is a crash.
        EXPECT_EQ(result.startError, 0UL);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, run.exitCode);

        std::vector<std::pair<std::string, std::string>> boxes;
        size_t first = 0;
        if (run.debugBoxes) {
            while (first < result.boxes.size() && result.boxes[first].title != kRefusalTitle &&
                   result.boxes[first].title != kProductTitle) {
                ++first;
            }
        }
        for (size_t i = first; i < result.boxes.size(); ++i) {
            const BoxRecord& box = result.boxes[i];
            if (run.notice && box.title == kProductTitle && box.text == kNoticeText) {
                continue;
            }
            boxes.emplace_back(FromAnsi(box.title), FromAnsi(box.text));
        }
        EXPECT_EQ(boxes, run.boxes);
        if (run.debugBoxes) {
            ASSERT_FALSE(result.boxes.empty());
            EXPECT_EQ(result.boxes[0].title, kShortTitle);
            EXPECT_EQ(result.boxes[0].text.compare(0, 16, "ProgramPointer: "), 0);
        }

        // The installer ran with the whole command line, or not at all.
        std::vector<std::string> lines = LogLines(log);
        if (run.installer.empty()) {
            EXPECT_EQ(lines, std::vector<std::string>());
        } else {
            ASSERT_GE(lines.size(), 3U);
            lines.resize(3);
            const std::string shortForm = run.shortOf.empty() ? std::string() : ShortForm(run.shortOf);
            EXPECT_EQ(lines, (std::vector<std::string>{"installer: " + Expand(run.installer, shortForm),
                                                       "cwd: " + Expand(run.installerDir, shortForm),
                                                       "payload: present"}));
        }

        // Nothing new at the top of drive C or beside the case root.
        EXPECT_EQ(Names("C:"), driveBefore);
        EXPECT_EQ(Strays(Names(kScratch)), Strays(scratchBefore));

        // Below the case root: nothing created or removed beyond what the run may,
        // and not a byte of any other file changed.
        const Snapshot after = Take(root_);
        long long lost = 0;
        for (const auto& entry : before) {
            if (UnderAny(entry.first, run.mayGo)) {
                continue;
            }
            auto found = after.find(entry.first);
            if (found == after.end() || found->second.size != entry.second.size ||
                found->second.hash != entry.second.hash) {
                ADD_FAILURE() << "changed or removed: " << entry.first;
                lost += entry.second.size > 0 ? entry.second.size : 0;
            }
        }
        for (const auto& entry : after) {
            if (before.count(entry.first) == 0 && entry.first != "installer.log" &&
                !UnderAny(entry.first, run.mayAppear)) {
                ADD_FAILURE() << "created: " << entry.first;
            }
        }
        if (run.more) {
            run.more(before, after);
        }
        figures.bytesLost += lost;
        if (FailureCount() == failuresBefore) {
            ++figures.passed;
        }
    }

private:
    std::string root_;
};

// Case root <name> under the scratch root: a package accepting every Windows
// version (setup.exe, unzip.exe, archive as package.zip), the temporary
// directory temp, and canaries in both, among them names that a cut path
// could hit. Empty on failure.
std::string MakeCase(const std::string& name, const std::string& archive = "installer.zip",
                     const std::vector<std::string>& tail = kAllVersionTags) {
    const std::string root = std::string(kScratch) + "\\" + name;
    if (!ClaimScratchName(name)) {
        return std::string();
    }
    RemoveLongTree(root);
    // Made through the wide functions: the harness's helpers stop short of MAX_PATH.
    const std::string programs = TestProgramDirectory();
    std::string setup = ReadFileAt(programs + "\\setup.exe");
    for (const std::string& tag : tail) {
        setup += tag + "\r\n";
    }
    if (setup.empty() || !MakeDirectory(root) || !WriteFileAt(root + "\\setup.exe", setup) ||
        !WriteFileAt(root + "\\unzip.exe", ReadFileAt(programs + "\\unzip.exe")) ||
        (!archive.empty() && !WriteFileAt(root + "\\package.zip", ReadFileAt(programs + "\\" + archive))) ||
        !MakeDirectory(root + "\\temp") || !WriteFileAt(root + "\\canary.txt", std::string(1000, 'c')) ||
        !WriteFileAt(root + "\\temp\\canary.txt", std::string(1000, 't')) ||
        !WriteFileAt(root + "\\temp\\QUILLE", "cut name\r\n") ||
        !MakeDirectory(root + "\\temp\\QUILLER.old") ||
        !WriteFileAt(root + "\\temp\\QUILLER.old\\keep.txt", "keep\r\n")) {
        return std::string();
    }
    return root;
}

// A path below root of exactly length characters: root, a backslash and filler.
std::string PathOfLength(const std::string& root, size_t length, char filler) {
    return root + "\\" + std::string(length - root.size() - 1, filler);
}

// The extractor's command line for a package directory and working directory without spaces.
std::string ExtractorCommand(const std::string& source, const std::string& destination) {
    return source + "\\unzip.exe -o \"" + source + "\\package.zip\" -d " + destination;
}

}  // namespace

TEST(HostileInput, OverlongArgumentStrings) {
    const std::string root = MakeCase("hostile_args");
    ASSERT_FALSE(root.empty());
    const std::string quiller = root + "\\temp\\QUILLER";
    Sweep sweep(root);

    // 300 characters: the -d value reaches the cut, so it is ignored; interactive.
    HostileRun run;
    run.name = "300";
    run.args = "-d" + std::string(298, 'x');
    run.notice = true;
    run.installer = quiller + "\\SETUP.EXE";
    run.installerDir = quiller;
    sweep.Check(run);

    // 5,000 characters of option characters around quotes; only -s is an option.
    run = HostileRun();
    run.name = "5000";
    run.args = "-s ";
    while (run.args.size() < 5000) {
        run.args += "\"-/ ";
    }
    run.installer = quiller + "\\SETUP.EXE -s -SMS";
    run.installerDir = quiller;
    sweep.Check(run);

    // 32,000 characters: a -d value ended by a space before the cut is whole and used.
    run = HostileRun();
    run.name = "32000";
    run.args = "-s -d" + root + "\\out ";
    while (run.args.size() < 32000) {
        run.args += "/x\"";
    }
    run.installer = root + "\\out\\SETUP.EXE -s -SMS";
    run.installerDir = root + "\\out";
    run.mayAppear = {"out"};
    sweep.Check(run);
}

TEST(HostileInput, DestinationsAtAndPastTheLimits) {
    const std::string root = MakeCase("hostile_dest");
    ASSERT_FALSE(root.empty());
    const std::string quiller = root + "\\temp\\QUILLER";
    Sweep sweep(root);
    // The longest working directory whose extractor command line still fits.
    const size_t extractorMost = kLimit - ExtractorCommand(root, "").size();
    const size_t installerMost = kLimit - std::string("\\SETUP.EXE -s -SMS").size();

    const struct {
        size_t length;
        bool extracted;  // the extractor's command line fits
        bool used;       // the whole -d value reached the program
    } rows[] = {
        {extractorMost, true, true},
        {extractorMost + 1, false, true},
        {installerMost, false, true},
        {kLimit - 5, false, true},  // "-s -d" and the value fill the command-line copy exactly
        {259, false, false},
        {260, false, false},
        {300, false, false},
    };
    for (const auto& row : rows) {
        const std::string destination = PathOfLength(root, row.length, 'o');
        const std::string name = destination.substr(root.size() + 1);
        HostileRun run;
        run.name = "D of " + std::to_string(row.length);
        run.args = "-s -d" + destination;
        if (row.used) {
            // Created and kept; the installer runs only when it was extracted there.
            run.mayAppear = {name};
            if (row.extracted) {
                run.installer = destination + "\\SETUP.EXE -s -SMS";
                run.installerDir = destination;
            }
        } else {
            run.installer = quiller + "\\SETUP.EXE -s -SMS";
            run.installerDir = quiller;
        }
        sweep.Check(run);
    }

    // A relative value one character too long for C:\ and the working-directory
    // buffer: nothing is created, extracted or run.
    HostileRun run;
    run.name = "relative D of 257";
    const std::string relative = PathOfLength(root, kLimit + 1, 'r').substr(3);
    run.args = "-d" + relative;
    sweep.Check(run);
}

TEST(HostileInput, TemporaryDirectoryNearAndPastMaxPath) {
    const std::string root = MakeCase("hostile_temp");
    ASSERT_FALSE(root.empty());
    Sweep sweep(root);
    const std::string quillerName = "\\QUILLER";
    const size_t extractorMost = kLimit - ExtractorCommand(root, "").size();

    const struct {
        size_t quillerLength;  // the working directory's length; 0: TEMP itself is 300 characters
        bool extracted;
    } rows[] = {
        {extractorMost, true}, {extractorMost + 1, false}, {kLimit, false}, {kLimit + 1, false}, {0, false},
    };
    for (const auto& row : rows) {
        const size_t tempLength = row.quillerLength != 0 ? row.quillerLength - quillerName.size() : 300;
        // Past MAX_PATH takes two names: one may have 255 characters at most.
        std::string temp = PathOfLength(root, std::min<size_t>(tempLength, 200), 't');
        const std::string top = temp;
        ASSERT_TRUE(MakeDirectory(temp));
        if (tempLength > 200) {
            temp = PathOfLength(top, tempLength, 'u');
            ASSERT_TRUE(MakeDirectory(temp));
        }
        ASSERT_TRUE(WriteFileAt(temp + "\\canary.txt", "canary\r\n"));
        HostileRun run;
        run.name = "TEMP of " + std::to_string(tempLength);
        run.args = "-s";
        run.temp = temp;
        if (row.extracted) {
            run.installer = temp + quillerName + "\\SETUP.EXE -s -SMS";
            run.installerDir = temp + quillerName;
        }
        // The temporary working directory is gone again in every case.
        sweep.Check(run);
        RemoveLongTree(top);
    }
}

TEST(HostileInput, PackageDirectoryNearMaxPath) {
    const std::string tempRoot = MakeCase("hostile_pkg_temp", "");
    ASSERT_FALSE(tempRoot.empty());
    // setup.exe at exactly 259 characters: its tail is read (the package is
    // accepted), but the extractor's command line does not fit.
    const std::string longName =
        std::string(kLimit - std::string("C:\\setup-tests\\\\setup.exe").size(), 'p');
    const std::string root = MakeCase(longName);
    ASSERT_FALSE(root.empty());
    ASSERT_EQ((root + "\\setup.exe").size(), kLimit);
    Sweep sweep(root);
    HostileRun run;
    run.name = "package at 249";
    run.args = "-s";
    run.temp = tempRoot + "\\temp";
    run.more = [&](const Snapshot&, const Snapshot&) {
        EXPECT_EQ(Names(run.temp), (std::vector<std::string>{"canary.txt", "QUILLE", "QUILLER.old"}));
    };
    sweep.Check(run);
    RemoveLongTree(root);
}

TEST(HostileInput, NamesWithSpacesAndNonAsciiCharacters) {
    // Spaces and ANSI letters beyond ASCII in the package and temporary directories.
    std::string root = MakeCase("hostile names éü");
    ASSERT_FALSE(root.empty());
    const std::string temp = root + "\\temp dir ä";
    ASSERT_TRUE(MakeDirectory(temp));
    {
        Sweep sweep(root);
        HostileRun run;
        run.name = "spaces in the package and temporary directories";
        run.args = "-s";
        run.temp = temp;
        run.installer = "\"" + temp + "\\QUILLER\\SETUP.EXE\" -s -SMS";
        run.installerDir = temp + "\\QUILLER";
        sweep.Check(run);

        // A -d value with spaces comes in double quotes, which the working directory leaves out.
        run = HostileRun();
        run.name = "quoted destination with spaces";
        const std::string out = root + "\\out dir Ä";
        run.args = "-d\"" + out + "\" -s";
        run.installer = "\"" + out + "\\SETUP.EXE\" -s -SMS";
        run.installerDir = out;
        run.mayAppear = {"out dir Ä"};
        sweep.Check(run);

        // The same ending in a backslash: the extractor still gets the directory whole.
        run = HostileRun();
        run.name = "quoted destination with spaces and a closing backslash";
        run.args = "-s -d\"" + root + "\\out dir 2\\\"";
        run.installer = "\"" + root + "\\out dir 2\\\\SETUP.EXE\" -s -SMS";
        run.installerDir = root + "\\out dir 2";
        run.mayAppear = {"out dir 2"};
        sweep.Check(run);

        // Nothing but quotes: the temporary working directory, as for an empty value.
        run = HostileRun();
        run.name = "quotes only";
        run.args = "-s -d\"\"";
        run.temp = temp;
        run.installer = "\"" + temp + "\\QUILLER\\SETUP.EXE\" -s -SMS";
        run.installerDir = temp + "\\QUILLER";
        sweep.Check(run);
    }

    // ANSI letters beyond ASCII in a -d value.
    root = MakeCase("hostile_öß");
    ASSERT_FALSE(root.empty());
    Sweep sweep(root);
    HostileRun run;
    run.name = "non-ASCII destination";
    const std::string out = root + "\\ausgabe_äÉ";
    run.args = "-s -d" + out;
    run.installer = out + "\\SETUP.EXE -s -SMS";
    run.installerDir = out;
    run.mayAppear = {out.substr(root.size() + 1)};
    sweep.Check(run);
}

TEST(HostileInput, MissingAndBrokenPackageFiles) {
    const struct {
        const char* name;
        const char* archive;  // nullptr: no package.zip
        const char* content;  // replaces package.zip when not nullptr
        bool removeUnzip;
    } rows[] = {
        {"hostile_no_unzip", "installer.zip", nullptr, true},
        {"hostile_no_zip", nullptr, nullptr, false},
        {"hostile_no_setup", "sample.zip", nullptr, false},
        {"hostile_empty_zip", "installer.zip", "", false},
        {"hostile_corrupt_zip", "installer.zip", "PK\x03\x04 this is not an archive", false},
    };
    for (const auto& row : rows) {
        const std::string root = MakeCase(row.name, row.archive != nullptr ? row.archive : "");
        ASSERT_FALSE(root.empty()) << row.name;
        if (row.content != nullptr) {
            std::string content = row.content;
            if (!content.empty()) {
                for (int i = 0; i < 4000; ++i) {
                    content += static_cast<char>((i * 7919) % 251);
                }
            }
            ASSERT_TRUE(WriteFileAt(root + "\\package.zip", content));
        }
        if (row.removeUnzip) {
            ASSERT_TRUE(DeleteFileA((root + "\\unzip.exe").c_str()));
        }
        Sweep sweep(root);
        HostileRun run;
        run.name = row.name;
        run.args = "-s";
        sweep.Check(run);
    }

    // The same in debug mode: the failures show as boxes, and the run still ends normally.
    const std::string root = MakeCase("hostile_no_unzip_debug");
    ASSERT_FALSE(root.empty());
    ASSERT_TRUE(DeleteFileA((root + "\\unzip.exe").c_str()));
    ASSERT_TRUE(WriteFileAt(root + "\\debug.tag", ""));
    Sweep sweep(root);
    HostileRun run;
    run.name = "no unzip.exe, debug";
    run.args = "-s";
    run.debugBoxes = true;
    sweep.Check(run);
}

TEST(HostileInput, StrayTagTextAndTagDirectories) {
    // More than 256 bytes after the tags hide them: refused.
    std::vector<std::string> hidden = kAllVersionTags;
    hidden.push_back(std::string(300, '='));
    std::string root = MakeCase("hostile_tags_hidden", "installer.zip", hidden);
    ASSERT_FALSE(root.empty());
    {
        Sweep sweep(root);
        HostileRun run;
        run.name = "tags before 300 bytes";
        run.args = "-s";
        run.exitCode = 0;
        run.boxes = {{kRefusalTitle, kRefusal}};
        sweep.Check(run);
    }

    // 5,000 bytes of zeros and text before them do not.
    std::vector<std::string> late = {std::string(5000, '\0') + std::string(300, 'x')};
    late.insert(late.end(), kAllVersionTags.begin(), kAllVersionTags.end());
    root = MakeCase("hostile_tags_late", "installer.zip", late);
    ASSERT_FALSE(root.empty());
    // msi.tag as a directory counts like a file; debug.tag as a directory in the
    // launch directory turns debug mode on.
    ASSERT_TRUE(MakeDirectory(root + "\\msi.tag"));
    ASSERT_TRUE(MakeDirectory(root + "\\launch"));
    ASSERT_TRUE(MakeDirectory(root + "\\launch\\debug.tag"));
    const std::string quiller = root + "\\temp\\QUILLER";
    Sweep sweep(root);
    HostileRun run;
    run.name = "tags after 5,000 bytes, msi.tag and debug.tag as directories";
    run.args = "-s";
    run.currentDir = root + "\\launch";
    run.debugBoxes = true;
    run.installer = quiller + "\\SETUP.EXE /qn REBOOT=ReallySuppress";
    run.installerDir = quiller;
    sweep.Check(run);
}

// Names the ANSI code page (1252 here) cannot spell: Cyrillic letters come
// back from the ANSI functions as '?', and 'ł' as its look-alike 'l', which
// names the decoy beside it. The program must work through the short form
// and never touch a decoy; a Latin-1 name keeps its own spelling.
TEST(HostileInput, NamesTheAnsiCodePageCannotSpell) {
    const std::string root = MakeCase("hostile_unspellable");
    ASSERT_FALSE(root.empty());
    const std::string programs = TestProgramDirectory();
    const std::string setup = ReadFileAt(root + "\\setup.exe");
    const std::string plainSetup = ReadFileAt(programs + "\\setup.exe");
    // A decoy of the look-alike spelling, with a working directory and canaries of its own.
    const auto makeDecoy = [&](const std::string& decoy) {
        return MakeDirectory(decoy) && MakeDirectory(decoy + "\\QUILLER") &&
               WriteFileAt(decoy + "\\canary.txt", std::string(500, 'd')) &&
               WriteFileAt(decoy + "\\QUILLER\\SETUP.EXE", "decoy\r\n") &&
               WriteFileAt(decoy + "\\QUILLER\\canary.txt", std::string(700, 'q'));
    };
    // A package directory: setup.exe with tags in its tail, or plain with tag files.
    const auto makePackage = [&](const std::string& dir, const std::string& archive, bool tagFiles) {
        bool made = MakeDirectory(dir) && WriteFileAt(dir + "\\setup.exe", tagFiles ? plainSetup : setup) &&
                    WriteFileAt(dir + "\\unzip.exe", ReadFileAt(programs + "\\unzip.exe")) &&
                    WriteFileAt(dir + "\\package.zip", ReadFileAt(programs + "\\" + archive));
        for (const std::string& tag : kAllVersionTags) {
            made = made && (!tagFiles || WriteFileAt(dir + "\\" + tag, ""));
        }
        return made;
    };
    const std::string quiller = root + "\\temp\\QUILLER";
    ASSERT_TRUE(makeDecoy(root + "\\tmp_Rafal"));
    ASSERT_TRUE(makeDecoy(root + "\\out_Rafal"));
    Sweep sweep(root);

    for (const char* name : {"Ђорђе", "Rafał", "José"}) {
        const std::string temp = root + "\\tmp_" + name;
        ASSERT_TRUE(MakeDirectory(temp));
        ASSERT_TRUE(WriteFileAt(temp + "\\canary.txt", "canary\r\n"));
        const bool latin1 = std::string(name) == "José";
        HostileRun run;
        run.name = std::string("TEMP ") + name;
        run.args = "-s";
        run.temp = temp;
        run.shortOf = temp;
        run.installer = (latin1 ? temp : "%SHORT%") + "\\QUILLER\\SETUP.EXE -s -SMS";
        run.installerDir = (latin1 ? temp : "%SHORT%") + "\\QUILLER";
        sweep.Check(run);

        const std::string out = root + "\\out_" + name;
        run = HostileRun();
        run.name = std::string("-d ") + name;
        run.args = "-s -d" + out;
        run.shortOf = out;
        run.installer = (latin1 ? out : "%SHORT%") + "\\SETUP.EXE -s -SMS";
        run.installerDir = latin1 ? out : "%SHORT%";
        run.mayAppear = {"out_" + std::string(name)};
        sweep.Check(run);
    }

    // A package directory that only the wide functions name, started from
    // another directory: it must still find its tags, in the tail or as files.
    for (bool tagFiles : {false, true}) {
        const std::string package = root + (tagFiles ? "\\Ђорђе_files" : "\\Ђорђе_tail");
        ASSERT_TRUE(makePackage(package, "installer.zip", tagFiles));
        HostileRun run;
        run.name = tagFiles ? "package Ђорђе, tag files" : "package Ђорђе, tags in the tail";
        run.package = package;
        run.args = "-s";
        run.installer = quiller + "\\SETUP.EXE -s -SMS";
        run.installerDir = quiller;
        sweep.Check(run);
    }

    // In debug mode every box names the paths the program really uses: the
    // short forms, never a '?' or a look-alike.
    {
        const std::string launch = root + "\\debug launch";
        ASSERT_TRUE(MakeDirectory(launch) && WriteFileAt(launch + "\\debug.tag", ""));
        RunOptions options;
        options.exe = root + "\\Ђорђе_tail\\setup.exe";
        options.args = "-s -d" + root + "\\out_Ђорђе";
        options.currentDir = launch;
        options.utf8 = true;
        options.env = {{"TEMP", root + "\\tmp_Rafał"}, {"SETUP_TEST_LOG", launch + "\\installer.log"}};
        const RunResult result = RunAndRecord(options);
        ASSERT_FALSE(result.boxes.empty());
        EXPECT_EQ(result.boxes[0].text,
                  "ProgramPointer: " + ShortForm(root + "\\Ђорђе_tail") + "\\setup.exe\n");
        for (const BoxRecord& box : result.boxes) {
            EXPECT_EQ(box.text.find_first_of("?"), std::string::npos) << box.text;
            EXPECT_EQ(box.text.find("Rafal"), std::string::npos) << box.text;
        }
        RemoveLongTree(launch);
    }

    // A package under a look-alike name beside a package of that spelling,
    // whose archive has no installer: nothing of the decoy may run.
    ASSERT_TRUE(makePackage(root + "\\pkg_Rafał", "installer.zip", true));
    ASSERT_TRUE(makePackage(root + "\\pkg_Rafal", "nosetup.zip", true));
    HostileRun run;
    run.name = "package Rafał beside pkg_Rafal";
    run.package = root + "\\pkg_Rafał";
    run.args = "-s";
    run.installer = quiller + "\\SETUP.EXE -s -SMS";
    run.installerDir = quiller;
    sweep.Check(run);
}

// GetModuleFileName returns the buffer's size for a path that fills it, cut
// short and perhaps unterminated. setup.exe at exactly 260 characters must not
// take the cut path for its own: started from another directory, which has no
// tags, it stays there and refuses, though its own directory holds tag files;
// started from its own directory (a double-click), it finds them there.
TEST(HostileInput, ProgramPathThatFillsItsBuffer) {
    const std::string launch = MakeCase("hostile_fill_launch", "");
    ASSERT_FALSE(launch.empty());
    const std::string longName =
        std::string(kLimit + 1 - std::string("C:\\setup-tests\\\\setup.exe").size(), 'f');
    const std::string root = MakeCase(longName);
    ASSERT_FALSE(root.empty());
    ASSERT_EQ((root + "\\setup.exe").size(), kLimit + 1);
    for (const std::string& tag : kAllVersionTags) {
        ASSERT_TRUE(WriteFileAt(root + "\\" + tag, ""));
    }
    for (const std::string& from : {launch, root}) {
        RunOptions options;
        options.exe = "setup.exe";
        options.exeDir = root;
        options.args = "-s";
        options.currentDir = from;
        options.env = {{"TEMP", launch + "\\temp"}, {"TMP", launch + "\\temp"}};
        const Snapshot before = Take(root);
        RunResult result = RunAndRecord(options);
        EXPECT_EQ(result.startError, 0UL);
        EXPECT_FALSE(result.timedOut);
        if (from == launch) {
            EXPECT_EQ(result.exitCode, 0UL);
            ASSERT_EQ(result.boxes.size(), 1U);
            EXPECT_EQ(result.boxes[0].title, kRefusalTitle);
            EXPECT_EQ(result.boxes[0].text, kRefusal);
        } else {
            // Accepted; the extractor's command line from so long a directory does not fit.
            EXPECT_EQ(result.exitCode, 1UL);
            EXPECT_TRUE(result.boxes.empty());
        }
        EXPECT_EQ(Take(root).size(), before.size());
    }
    RemoveLongTree(root);
}

// The last byte of setup.exe belongs to the tail: a tag appended without a
// line end, ending exactly at the end of the file, counts.
TEST(HostileInput, TagEndingAtTheLastByteOfTheFile) {
    const std::string root = MakeCase("hostile_last_byte", "installer.zip", {});
    ASSERT_FALSE(root.empty());
    ASSERT_TRUE(WriteFileAt(root + "\\setup.exe", ReadFileAt(root + "\\setup.exe") + "vst.tag"));
    ASSERT_TRUE(SetReportedWindowsVersion("setup.exe", "win7"));
    Sweep sweep(root);
    HostileRun run;
    run.name = "vst.tag as the last bytes";
    run.args = "-s";
    run.installer = root + "\\temp\\QUILLER\\SETUP.EXE -s -SMS";
    run.installerDir = root + "\\temp\\QUILLER";
    sweep.Check(run);
    EXPECT_TRUE(SetReportedWindowsVersion("setup.exe", ""));
}

// The working directory is created before the extraction, not by the
// extractor: with unzip.exe missing, or an empty archive, the directory a -d
// option names still exists afterwards, empty.
TEST(HostileInput, WorkingDirectoryIsCreatedBeforeExtraction) {
    for (bool noUnzip : {true, false}) {
        const std::string root = MakeCase(noUnzip ? "hostile_made_no_unzip" : "hostile_made_empty_zip");
        ASSERT_FALSE(root.empty());
        if (noUnzip) {
            ASSERT_TRUE(DeleteFileW(Wide(root + "\\unzip.exe").c_str()));
        } else {
            ASSERT_TRUE(WriteFileAt(root + "\\package.zip", ""));
        }
        Sweep sweep(root);
        HostileRun run;
        run.name = noUnzip ? "no unzip.exe" : "empty package.zip";
        run.args = "-s -d" + root + "\\made";
        run.mayAppear = {"made"};
        run.more = [&](const Snapshot&, const Snapshot& after) {
            EXPECT_EQ(after.count("made"), 1U);
            EXPECT_EQ(Names(root + "\\made"), std::vector<std::string>());
        };
        sweep.Check(run);
    }
}

// A look-alike of the double quote in the package's own path: the ANSI command
// line spells it as a plain one, which ends the program's name early and turns
// the rest of the path into options. Look-alikes of option letters ('ħ' and
// 'ś', spelled "h" and "s") are no options either. The options are read from
// the wide command line, with the same rules.
TEST(HostileInput, LookAlikesInTheProgramPathAndTheOptionsAreNoOptions) {
    const std::string root = MakeCase("hostile_lookalike");
    ASSERT_FALSE(root.empty());
    const std::string package = root + "\\a＂ -dlookalike_target -s ＂";
    ASSERT_TRUE(MakeDirectory(package));
    for (const char* name : {"setup.exe", "unzip.exe", "package.zip"}) {
        ASSERT_TRUE(WriteFileAt(package + "\\" + name, ReadFileAt(root + "\\" + name)));
    }
    const std::string quiller = root + "\\temp\\QUILLER";
    Sweep sweep(root);

    HostileRun run;
    run.name = "quote look-alikes in the package path, no arguments";
    run.package = package;
    run.notice = true;
    run.installer = quiller + "\\SETUP.EXE";
    run.installerDir = quiller;
    sweep.Check(run);

    // Arguments that fit the wide copy whole, while the ANSI argument string,
    // which starts inside the path, is longer than its copy: the -d value
    // reaches the end and is still used. It is made; the extractor's command
    // line for so long a directory does not fit, so nothing is installed.
    const std::string out = PathOfLength(root, 238, 'o');
    run = HostileRun();
    run.name = "options filling the wide copy, from the same package";
    run.package = package;
    run.args = "-s -d" + out;
    run.mayAppear = {out.substr(root.size() + 1)};
    run.more = [&](const Snapshot&, const Snapshot& after) {
        EXPECT_EQ(after.count(out.substr(root.size() + 1)), 1U);
    };
    sweep.Check(run);

    run = HostileRun();
    run.name = "option letter look-alikes";
    run.args = "-ħ -ś";
    run.notice = true;
    run.installer = quiller + "\\SETUP.EXE";
    run.installerDir = quiller;
    sweep.Check(run);
    RemoveLongTree("C:\\lookalike_target");  // left only by a failed run
}

// A -d value only the wide command line spells is made at its last level only,
// as any other value is: below a missing parent nothing is made (neither the
// parent nor anything beside its look-alike) and nothing is installed. Its
// debug box comes where any other value's does, before the system check.
TEST(HostileInput, UnspellableDestinationIsMadeAtItsLastLevelOnly) {
    const std::string root = MakeCase("hostile_dest_levels");
    ASSERT_FALSE(root.empty());
    ASSERT_TRUE(MakeDirectory(root + "\\Rafal"));
    ASSERT_TRUE(WriteFileAt(root + "\\Rafal\\canary.txt", std::string(300, 'r')));
    {
        Sweep sweep(root);
        for (const char* parent : {"Rafał", "Ђорђе", "new"}) {
            HostileRun run;
            run.name = std::string("-d below a missing ") + parent;
            run.args = "-s -d" + root + "\\" + parent + "\\out";
            sweep.Check(run);
        }
    }

    // Debug mode: refused by a package without version tags, or installing.
    const std::string launch = root + "\\launch";
    const std::string refused = root + "\\refused";
    ASSERT_TRUE(MakeDirectory(launch) && WriteFileAt(launch + "\\debug.tag", ""));
    ASSERT_TRUE(MakeDirectory(refused) &&
                WriteFileAt(refused + "\\setup.exe", ReadFileAt(TestProgramDirectory() + "\\setup.exe")));
    const struct {
        std::string package;
        std::string value;
        std::string shown;  // the value with '?' for each letter the code page lacks
        const char* next;   // the title of the box that must come after it
    } rows[] = {
        {refused, root + "\\Ђорђе\\out", root + "\\?????\\out", kRefusalTitle},
        {root, root + "\\Rafał_new", root + "\\Rafa?_new", "Velmora Quillet: Zip CommandLine"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        const std::vector<std::string> before = Names(root);
        RunOptions options;
        options.exe = row.package + "\\setup.exe";
        options.args = "-s -d" + row.value;
        options.currentDir = launch;
        options.utf8 = true;
        options.env = {{"TEMP", root + "\\temp"}, {"TMP", root + "\\temp"}};
        options.timeoutMs = 60000;
        const RunResult result = RunAndRecord(options);
        std::vector<std::string> shown;
        size_t shownAt = result.boxes.size();
        size_t nextAt = result.boxes.size();
        for (size_t i = 0; i < result.boxes.size(); ++i) {
            if (result.boxes[i].title == "Velmora Quillet: Output Directory Specified.") {
                shown.push_back(FromAnsi(result.boxes[i].text));
                shownAt = std::min(shownAt, i);
            } else if (result.boxes[i].title == row.next) {
                nextAt = std::min(nextAt, i);
            }
        }
        EXPECT_EQ(shown, std::vector<std::string>{row.shown});
        EXPECT_LT(shownAt, nextAt);
        if (row.package == refused) {
            EXPECT_EQ(result.exitCode, 0UL);
            EXPECT_EQ(Names(root), before);
        } else {
            EXPECT_EQ(result.exitCode, 1UL);
            const std::vector<std::string> made = Names(root + "\\Rafał_new");
            EXPECT_NE(std::find(made.begin(), made.end(), "SETUP.EXE"), made.end());  // extracted there
        }
    }
}
