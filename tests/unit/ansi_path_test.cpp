// The wide path reads and the wide command line over the kernel32 a test hands
// them: wide functions missing or stubs (the 4.x family without NT), and
// getters with the buffer semantics of systems other than Wine's.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/ansi_path.h"
#include "common/library_function.h"
#include "common/run_state.h"

namespace {

template <typename Function>
FARPROC AsFarProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

FARPROC Missing(const char*) {
    return nullptr;
}

// Present, but failing the way the 4.x family's stubs do.
DWORD WINAPI StubModuleFileName(HMODULE, LPWSTR, DWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
DWORD WINAPI StubDirectory(DWORD, LPWSTR) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI StubCreateDirectory(LPCWSTR, LPSECURITY_ATTRIBUTES) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
DWORD WINAPI StubShortPath(LPCWSTR, LPWSTR, DWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
wchar_t emptyCommandLine[] = L"";
LPWSTR WINAPI StubCommandLine() {
    return emptyCommandLine;
}

FARPROC Stubs(const char* name) {
    const std::string wanted = name;
    if (wanted == "GetModuleFileNameW") {
        return AsFarProc(StubModuleFileName);
    }
    if (wanted == "CreateDirectoryW") {
        return AsFarProc(StubCreateDirectory);
    }
    if (wanted == "GetShortPathNameW") {
        return AsFarProc(StubShortPath);
    }
    if (wanted == "GetCommandLineW") {
        return AsFarProc(StubCommandLine);
    }
    return AsFarProc(StubDirectory);  // the directory getters
}

// The path and command line the fakes below report.
std::wstring fakePath;
std::wstring fakeCommandLine;

// GetModuleFileNameW as from Windows Vista on: a path that does not fit is cut
// to size - 1 characters and terminated, and the result is size.
DWORD WINAPI CuttingModuleFileName(HMODULE, LPWSTR buffer, DWORD size) {
    const size_t length = fakePath.size() < size ? fakePath.size() : size - 1;
    fakePath.copy(buffer, length);
    buffer[length] = 0;
    return fakePath.size() < size ? static_cast<DWORD>(length) : size;
}

LPWSTR WINAPI FakeCommandLine() {
    return &fakeCommandLine[0];
}

FARPROC Fakes(const char* name) {
    const std::string wanted = name;
    if (wanted == "GetModuleFileNameW") {
        return AsFarProc(CuttingModuleFileName);
    }
    if (wanted == "GetCommandLineW") {
        return AsFarProc(FakeCommandLine);
    }
    return nullptr;
}

// kernel32's functions as lookup answers them (a nullptr answer makes one
// missing), every other library's as the system has them; nullptr restores
// the system's own lookup.
typedef FARPROC (*WideFunctionLookup)(const char* name);
WideFunctionLookup kernelLookup = nullptr;

FARPROC ThroughKernelLookup(const char* library, const char* name) {
    if (std::string(library) == "kernel32.dll") {
        return kernelLookup(name);
    }
    HMODULE module = LoadLibraryA(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

void SetWideFunctionLookup(WideFunctionLookup lookup) {
    kernelLookup = lookup;
    LibraryLookupOverride = lookup != nullptr ? ThroughKernelLookup : nullptr;
}

class WideFunctions : public ::testing::Test {
protected:
    void TearDown() override { SetWideFunctionLookup(nullptr); }
};

}  // namespace

// Without the wide functions each read is the ANSI getter's result, exactly
// as before there were wide reads: even the look-alike spelling of a
// directory whose name the code page lacks.
TEST_F(WideFunctions, MissingOrStubsTheAnsiReadsAnswerAsOfOld) {
    const std::wstring directory = L"C:\\setup-tests\\unit-Rafa\u0142";
    CreateDirectoryW(L"C:\\setup-tests", nullptr);
    CreateDirectoryW(directory.c_str(), nullptr);
    wchar_t saved[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, saved), 0UL);
    ASSERT_TRUE(SetCurrentDirectoryW(directory.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", (directory + L"\\").c_str()));

    char ansi[PathBufferSize];
    char read[PathBufferSize];
    // With kernel32's wide functions, the spelling that names the directory.
    ASSERT_EQ(ReadCurrentDirectory(read), 1);
    ASSERT_NE(GetCurrentDirectoryA(PathBufferSize, ansi), 0UL);
    EXPECT_STREQ(ansi, "C:\\setup-tests\\unit-Rafal");
    EXPECT_STRNE(read, ansi);

    for (WideFunctionLookup lookup : {Missing, Stubs}) {
        SCOPED_TRACE(lookup == Missing ? "missing" : "stubs");
        SetWideFunctionLookup(lookup);
        ASSERT_NE(GetModuleFileNameA(nullptr, ansi, PathBufferSize), 0UL);
        EXPECT_EQ(ReadProgramPath(read), 1);
        EXPECT_STREQ(read, ansi);
        ASSERT_NE(GetCurrentDirectoryA(PathBufferSize, ansi), 0UL);
        EXPECT_EQ(ReadCurrentDirectory(read), 1);
        EXPECT_STREQ(read, ansi);
        ASSERT_NE(GetTempPathA(PathBufferSize, ansi), 0UL);
        EXPECT_EQ(ReadTempPath(read), 1);
        EXPECT_STREQ(read, ansi);

        // No wide command line: the ANSI argument string is the whole truth.
        WideChar arguments[PathBufferSize] = {'x', 0};
        int complete = 0;
        EXPECT_EQ(ReadWideArguments(arguments, &complete), 0);
        EXPECT_EQ(arguments[0], 0);
        EXPECT_EQ(complete, 1);

        // Nor is any directory made by a wide name.
        const std::wstring made = directory + L"\\made";
        EXPECT_EQ(CreateSpelledDirectory(made.c_str(), read), 0);
        EXPECT_STREQ(read, "");
        EXPECT_EQ(GetFileAttributesW(made.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    SetWideFunctionLookup(nullptr);
    SetEnvironmentVariableW(L"TMP", nullptr);
    SetCurrentDirectoryW(saved);
    RemoveDirectoryW(directory.c_str());
}

// A result that fills its buffer was cut: a program path as Windows Vista and
// later return it (cut and terminated, result the buffer's size), and a wide
// command line longer than the copy.
TEST_F(WideFunctions, AResultThatFillsItsBufferIsCut) {
    SetWideFunctionLookup(Fakes);
    for (size_t length : {PathBufferSize - 2, PathBufferSize - 1, PathBufferSize + 0, PathBufferSize + 40}) {
        fakePath = L"C:\\" + std::wstring(length - 13, L'p') + L"\\setup.exe";
        char path[PathBufferSize] = "not written";
        const int fits = length < PathBufferSize ? 1 : 0;
        EXPECT_EQ(ReadProgramPath(path), fits) << length;
        EXPECT_EQ(std::string(path), fits != 0 ? std::string(fakePath.begin(), fakePath.end()) : "")
            << length;
    }
    for (size_t length : {PathBufferSize - 1, PathBufferSize + 0}) {
        const std::wstring arguments = L"-s -d" + std::wstring(length - 5, L'x');
        fakeCommandLine = L"\"C:\\pkg\\setup.exe\"  " + arguments;
        WideChar read[PathBufferSize];
        int complete = -1;
        EXPECT_EQ(ReadWideArguments(read, &complete), 1);
        EXPECT_EQ(complete, length < PathBufferSize ? 1 : 0) << length;
        EXPECT_EQ(std::wstring(read), arguments.substr(0, PathBufferSize - 1)) << length;
    }
}
