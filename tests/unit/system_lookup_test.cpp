// The choices made by what the system has: the temporary base and the
// private security, with the run-time lookup standing in for systems that
// lack a function or have one this one lacks.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <cstring>
#include <set>
#include <string>

#include "common/ansi_path.h"
#include "common/library_function.h"
#include "common/log_text.h"
#include "common/private_access.h"
#include "common/run_log.h"
#include "common/run_state.h"
#include "install/working_directory.h"

namespace {

// What the stand-in lookup gives for GetTempPath2W.
enum PrivateTemp { PrivateTempMissing, PrivateTempAnswers, PrivateTempFails, PrivateTempTooLong };
PrivateTemp privateTemp = PrivateTempMissing;
bool hideWideTemp = false;
bool hideSecurity = false;

// What the stand-in lookup gives for RtlGenRandom (SystemFunction036).
enum RandomSource { RandomReal, RandomFixed, RandomFails, RandomMissing };
RandomSource randomSource = RandomReal;

BOOLEAN WINAPI FakeRandom(PVOID buffer, ULONG size) {
    if (randomSource == RandomFails) {
        return FALSE;
    }
    memset(buffer, 0x5A, size);
    return TRUE;
}

DWORD WINAPI FakeTempPath2(DWORD size, LPWSTR buffer) {
    const wchar_t path[] = L"C:\\Windows\\SystemTemp\\";
    switch (privateTemp) {
        case PrivateTempAnswers:
            if (size < sizeof path / sizeof path[0]) {
                return sizeof path / sizeof path[0];
            }
            lstrcpyW(buffer, path);
            return sizeof path / sizeof path[0] - 1;
        case PrivateTempTooLong:
            return 300;
        default:
            return 0;
    }
}

FARPROC StandInLookup(const char* library, const char* name) {
    const std::string function = name;
    if (function == "SystemFunction036" && randomSource != RandomReal) {
        return randomSource == RandomMissing ? nullptr : reinterpret_cast<FARPROC>(FakeRandom);
    }
    if (function == "GetTempPath2W") {
        return privateTemp == PrivateTempMissing ? nullptr : reinterpret_cast<FARPROC>(FakeTempPath2);
    }
    if ((hideWideTemp && function == "GetTempPathW") ||
        (hideSecurity && std::string(library) == "advapi32.dll")) {
        return nullptr;
    }
    HMODULE module = LoadLibraryA(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

class SystemLookup : public ::testing::Test {
protected:
    void SetUp() override {
        LibraryLookupOverride = StandInLookup;
        SetEnvironmentVariableA("TMP", "C:\\users\\Public\\tmp-of-test");
    }
    void TearDown() override {
        LibraryLookupOverride = nullptr;
        privateTemp = PrivateTempMissing;
        hideWideTemp = false;
        hideSecurity = false;
        randomSource = RandomReal;
    }
};

std::string TempBase() {
    char path[PathBufferSize];
    return ReadTempPath(path) != 0 ? std::string(path) : std::string("(unknown)");
}

}  // namespace

TEST_F(SystemLookup, TemporaryBaseIsThePrivateOneWhereTheSystemHasIt) {
    privateTemp = PrivateTempAnswers;
    EXPECT_EQ(TempBase(), "C:\\Windows\\SystemTemp\\");
    // Once it answers, a path that does not fit is not traded for the
    // directory every user may write to.
    privateTemp = PrivateTempTooLong;
    EXPECT_EQ(TempBase(), "(unknown)");
    // Missing or failing: the user's temporary directory, wide or ANSI.
    for (PrivateTemp state : {PrivateTempMissing, PrivateTempFails}) {
        privateTemp = state;
        for (bool hide : {false, true}) {
            hideWideTemp = hide;
            EXPECT_EQ(TempBase(), "C:\\users\\Public\\tmp-of-test\\") << state << hide;
        }
    }
}

TEST_F(SystemLookup, PrivateSecurityNamesThisProcesssDefaultOwner) {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    void* owner[64];
    DWORD got = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenOwner, owner, sizeof owner, &got));
    CloseHandle(token);
    LPSTR ownerText = nullptr;
    ASSERT_TRUE(
        ConvertSidToStringSidA(static_cast<TOKEN_OWNER*>(static_cast<void*>(owner))->Owner, &ownerText));
    std::string expected = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    if (std::string(ownerText) != "S-1-5-18" && std::string(ownerText) != "S-1-5-32-544") {
        expected += "(A;OICI;FA;;;" + std::string(ownerText) + ")";
    }
    LocalFree(ownerText);

    PrivateDescriptor descriptor;
    SECURITY_ATTRIBUTES attributes;
    ASSERT_EQ(PrivateSecurity(1, &descriptor, &attributes), 1);
    EXPECT_EQ(attributes.nLength, sizeof attributes);
    EXPECT_FALSE(attributes.bInheritHandle);
    ASSERT_EQ(attributes.lpSecurityDescriptor, static_cast<void*>(descriptor.Words));
    LPSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor.Words, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_EQ(std::string(text), expected);
    LocalFree(text);

    // Without security functions (the 4.x family): the default security.
    hideSecurity = true;
    EXPECT_EQ(PrivateSecurity(1, &descriptor, &attributes), 0);
    EXPECT_EQ(attributes.lpSecurityDescriptor, nullptr);
}

// The log is always a new file: one of its name that exists already, made by
// anyone a moment before, is neither written to nor emptied, and the log
// takes the name with "-2" instead. Anyone may read it while the run goes on.
TEST(RunLog, TakesTheNextNameWhenItsOwnIsTakenAndCanBeReadMeanwhile) {
    const std::string dir = "C:\\setup-tests\\unit-log\\";
    CreateDirectoryA("C:\\setup-tests", nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
    // The logs earlier runs of this test left open until they ended.
    WIN32_FIND_DATAA earlier;
    HANDLE listing = FindFirstFileA((dir + "*.log").c_str(), &earlier);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((dir + earlier.cFileName).c_str());
        } while (FindNextFileA(listing, &earlier));
        FindClose(listing);
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        const LogTime time = {now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
                              now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
        char name[PathBufferSize];
        ASSERT_EQ(ComposeLogName(dir.c_str(), time, GetCurrentProcessId(), name, sizeof name), 1);
        const std::string second = std::string(name, strlen(name) - 4) + "-2.log";
        DeleteFileA(second.c_str());
        HANDLE planted =
            CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(planted, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(planted, "planted", 7, &written, nullptr));
        CloseHandle(planted);
        const int opened = OpenRunLog(dir.c_str());
        LogEvent("Title", "text");
        SYSTEMTIME after;
        GetLocalTime(&after);
        const auto read = [](const std::string& path) {
            HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            char content[128] = {0};
            DWORD got = 0;
            ReadFile(file, content, sizeof content - 1, &got, nullptr);
            CloseHandle(file);
            return std::string(content, got);
        };
        const std::string plantedContent = read(name);
        const std::string log = read(second);
        DeleteFileA(name);
        if (after.wSecond != now.wSecond) {
            continue;  // a second boundary in between: the log took another name
        }
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(plantedContent, "planted");
        EXPECT_NE(log.find(" Title: text\r\n"), std::string::npos) << log;

        // A few names in all: with the name and "-2" to "-5" taken, no log.
        std::string names[5] = {name};
        for (int i = 2; i <= 5; ++i) {
            names[i - 1] = std::string(name, strlen(name) - 4) + "-" + std::to_string(i) + ".log";
        }
        const std::string sixth = std::string(name, strlen(name) - 4) + "-6.log";
        for (const std::string& taken : names) {
            // The "-2" this process writes to is taken already.
            HANDLE file = CreateFileA(taken.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_TRUE(file != INVALID_HANDLE_VALUE || taken == second) << taken;
            CloseHandle(file);
        }
        const int openedAgain = OpenRunLog(dir.c_str());
        SYSTEMTIME last;
        GetLocalTime(&last);
        const DWORD sixthAttributes = GetFileAttributesA(sixth.c_str());
        for (const std::string& taken : names) {
            DeleteFileA(taken.c_str());
        }
        if (last.wSecond == now.wSecond) {
            EXPECT_EQ(openedAgain, 0);
            EXPECT_EQ(sixthAttributes, INVALID_FILE_ATTRIBUTES);
        }
        return;
    }
    FAIL() << "no try within one second";
}

// The suffix comes from the system's random generator; where it fails or is
// missing, every try still gets a name of its own.
TEST_F(SystemLookup, RandomNumbersFromTheGeneratorOrDifferentForEachTry) {
    randomSource = RandomFixed;
    EXPECT_EQ(RandomNumber(), 0x5A5A5A5AUL);
    for (RandomSource source : {RandomFails, RandomMissing}) {
        randomSource = source;
        std::set<unsigned long> numbers;
        for (int i = 0; i < 16; ++i) {
            numbers.insert(RandomNumber());
        }
        EXPECT_EQ(numbers.size(), 16U) << source;
    }

    // QUILLER taken, and the generator failing: two tries in a row, within
    // one tick of the clock, still make two directories.
    const std::string temp = "C:\\setup-tests\\unit-random\\";
    CreateDirectoryA("C:\\setup-tests", nullptr);
    CreateDirectoryA(temp.c_str(), nullptr);
    CreateDirectoryA((temp + "QUILLER").c_str(), nullptr);
    randomSource = RandomFails;
    char first[PathBufferSize];
    char second[PathBufferSize];
    HANDLE firstHeld = INVALID_HANDLE_VALUE;
    HANDLE secondHeld = INVALID_HANDLE_VALUE;
    for (char* directory : {first, second}) {
        snprintf(directory, PathBufferSize, "%sQUILLER", temp.c_str());
    }
    ASSERT_EQ(MakeWorkingDirectory(temp.c_str(), first, &firstHeld), 1);
    ASSERT_EQ(MakeWorkingDirectory(temp.c_str(), second, &secondHeld), 1);
    EXPECT_STRNE(first, second);
    RemoveWorkingDirectory(first, firstHeld);
    RemoveWorkingDirectory(second, secondHeld);
}

// Without the private descriptor, on NT no working directory is made: one
// with the temporary directory's permissions could be changed by others.
TEST_F(SystemLookup, NoWorkingDirectoryWithoutPrivateSecurity) {
    const std::string temp = "C:\\setup-tests\\unit-unsecured\\";
    CreateDirectoryA("C:\\setup-tests", nullptr);
    CreateDirectoryA(temp.c_str(), nullptr);
    RemoveDirectoryA((temp + "QUILLER").c_str());
    hideSecurity = true;
    // Its log says why.
    const std::string logDir = "C:\\setup-tests\\unit-unsecured-log\\";
    CreateDirectoryA(logDir.c_str(), nullptr);
    WIN32_FIND_DATAA log;
    HANDLE earlier = FindFirstFileA((logDir + "*.log").c_str(), &log);
    if (earlier != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((logDir + log.cFileName).c_str());  // left by earlier runs, open until they ended
        } while (FindNextFileA(earlier, &log));
        FindClose(earlier);
    }
    ASSERT_EQ(OpenRunLog(logDir.c_str()), 1);
    char directory[PathBufferSize];
    snprintf(directory, sizeof directory, "%sQUILLER", temp.c_str());
    HANDLE held = nullptr;
    EXPECT_EQ(MakeWorkingDirectory(temp.c_str(), directory, &held), 0);
    HANDLE logs = FindFirstFileA((logDir + "*.log").c_str(), &log);
    std::string lines;
    if (logs != INVALID_HANDLE_VALUE) {
        do {
            HANDLE file = CreateFileA((logDir + log.cFileName).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            char content[512] = {0};
            DWORD got = 0;
            ReadFile(file, content, sizeof content - 1, &got, nullptr);
            CloseHandle(file);
            lines += std::string(content, got);
        } while (FindNextFileA(logs, &log));
        FindClose(logs);
    }
    EXPECT_NE(lines.find(" Velmora Quillet: No private security for the working directory.\r\n"),
              std::string::npos)
        << lines;
    EXPECT_STREQ(directory, "");
    EXPECT_EQ(held, INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((temp + "*").c_str(), &entry);
    int entries = 0;
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            entries += entry.cFileName[0] != '.' ? 1 : 0;
        } while (FindNextFileA(listing, &entry));
        FindClose(listing);
    }
    EXPECT_EQ(entries, 0);
}
