// The child-process runners under Wine, with a child that records how it was started.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "common/library_function.h"
#include "harness.h"
#include "install/runner_limits.h"
#include "install/runners.h"

namespace {

using Runner = int (*)(const char*, const char*);

// The extractor as a Runner: its exit code or start error, or WAIT_TIMEOUT
// while it still runs at its limit.
int Extract(const char* directory, const char* commandLine) {
    ChildResult result = RunExtractor(directory, commandLine);
    return static_cast<int>(result.State == ChildStillRunning ? WAIT_TIMEOUT : result.Code);
}

// A system without job objects (NT 4.0), for the runners' other wait.
FARPROC WithoutJobs(const char* library, const char* name) {
    if (std::string(name) == "CreateJobObjectA") {
        return nullptr;
    }
    HMODULE module = LoadLibraryA(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

// RunProgram where no job can be had.
int RunProgramWithoutJobs(const char* directory, const char* commandLine) {
    LibraryLookupOverride = WithoutJobs;
    int result = RunProgram(directory, commandLine);
    LibraryLookupOverride = nullptr;
    return result;
}

std::wstring WideCurrentDirectory() {
    wchar_t buffer[1024];
    DWORD length = GetCurrentDirectoryW(1024, buffer);
    return length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring Widened(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // ASCII paths only
}

std::string CurrentDirectory() {
    char buffer[1024];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    return length < sizeof buffer ? std::string(buffer, length) : std::string();
}

std::map<std::string, std::string> ReadRecord(const std::string& path) {
    std::map<std::string, std::string> record;
    std::string text = ReadTextFile(path);
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        size_t equals = line.find('=');
        record[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return record;
}

bool WaitForFile(const std::string& path, DWORD ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(50)) {
        if (PathExists(path)) {
            return true;
        }
    }
    return false;
}

// A scratch directory with "home" to call the runners from and "run" for the child.
struct RunnerScratch {
    std::string dir, home, run, child;
    explicit RunnerScratch(const std::string& name) : dir(MakeScratchDirectory(name)) {
        home = dir + "\\home";
        run = dir + "\\run";
        child = TestProgramDirectory() + "\\record_child.exe";
        CreateDirectoryA(home.c_str(), nullptr);
        CreateDirectoryA(run.c_str(), nullptr);
    }
};

// Puts the test's own current directory and the time limits back, whatever happened.
struct Restore {
    std::string directory = CurrentDirectory();
    ~Restore() {
        SetCurrentDirectoryA(directory.c_str());
        ExtractorTimeLimit = 360000;
        ProgramTimeLimit = 2080000;
    }
};

}  // namespace

TEST(Runners, ChildSeesEachRunnersStartUpRecordDirectoryAndCommandLine) {
    Restore restore;
    RunnerScratch s("runners-start");
    struct Case {
        Runner runner;
        const char* title;
        DWORD flags;
        WORD show;
        int result;
    } cases[] = {
        {Extract, "Unzip Files", STARTF_USESHOWWINDOW, SW_MINIMIZE, 0},
        {RunProgram, "External Program", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        std::string record = s.dir + "\\record.txt";
        DeleteFileA(record.c_str());
        std::string command = s.child + " --out " + record + " -x \"two words\"";
        ASSERT_TRUE(SetCurrentDirectoryA(s.home.c_str()));
        EXPECT_EQ(c.runner(s.run.c_str(), command.c_str()), c.result);
        EXPECT_EQ(CurrentDirectory(), s.home);
        std::map<std::string, std::string> seen = ReadRecord(record);
        EXPECT_EQ(seen["command"], command);
        EXPECT_EQ(seen["directory"], s.run);
        EXPECT_EQ(seen["title"], c.title);
        EXPECT_EQ(seen["flags"], std::to_string(c.flags));
        EXPECT_EQ(seen["show"], std::to_string(c.show));
    }
}

TEST(Runners, CurrentDirectoryIsRestoredWhateverHappens) {
    Restore restore;
    RunnerScratch s("runners-restore");
    // A current directory longer than 254 characters.
    std::string longHome = s.dir + "\\" + std::string(256 - s.dir.size(), 'h');
    ASSERT_TRUE(CreateDirectoryA(longHome.c_str(), nullptr));
    std::string record = s.dir + "\\record.txt";
    std::string ran = s.child + " --out " + record;
    struct Case {
        const char* what;
        std::string home, command;
        int programResult;
        bool starts;
    } cases[] = {
        {"normal run", s.home, ran, 0, true},
        {"missing program", s.home, s.run + "\\missing.exe -s", ERROR_FILE_NOT_FOUND, false},
        {"child changes its directory", s.home, ran + " --chdir " + s.home, 0, true},
        {"long current directory", longHome, ran, 0, true},
        {"command line too long", s.home, ran + " " + std::string(260, 'x'), ERROR_FILENAME_EXCED_RANGE,
         false},
    };
    for (const Case& c : cases) {
        for (Runner runner : {Extract, RunProgram}) {
            SCOPED_TRACE(std::string(c.what) + (runner == RunProgram ? " / RunProgram" : " / RunExtractor"));
            DeleteFileA(record.c_str());
            ASSERT_TRUE(SetCurrentDirectoryA(c.home.c_str()));
            ASSERT_EQ(CurrentDirectory(), c.home);
            EXPECT_EQ(runner(s.run.c_str(), c.command.c_str()), c.programResult);
            EXPECT_EQ(CurrentDirectory(), c.home);
            EXPECT_EQ(PathExists(record), c.starts);
            if (c.starts) {
                EXPECT_EQ(ReadRecord(record)["directory"], s.run);
            }
        }
    }
    // A current directory past the buffer (Wine lets a program have one) cannot
    // be saved, so it is never left: there would be no way back.
    std::wstring unsaved = L"\\\\?\\" + Widened(s.dir);
    for (wchar_t letter : {L'i', L'j', L'k'}) {
        unsaved += L"\\" + std::wstring(100, letter);
        ASSERT_TRUE(CreateDirectoryW(unsaved.c_str(), nullptr));
    }
    unsaved = unsaved.substr(4);
    for (Runner runner : {Extract, RunProgram}) {
        SCOPED_TRACE(runner == RunProgram ? "unsaved directory / RunProgram"
                                          : "unsaved directory / RunExtractor");
        DeleteFileA(record.c_str());
        ASSERT_TRUE(SetCurrentDirectoryW(unsaved.c_str()));
        runner(s.run.c_str(), ran.c_str());
        EXPECT_TRUE(WideCurrentDirectory() == unsaved);
        EXPECT_EQ(ReadRecord(record)["directory"], s.run);
    }
}

// Each runner waits for the child's whole process, in its job; without a
// job, the program runner for its primary thread only. Either stops waiting
// at its time limit, where the extractor is ended and a program left running.
TEST(Runners, WaitEndsWithThePrimaryThreadTheProcessOrTheTimeLimit) {
    Restore restore;
    RunnerScratch s("runners-wait");
    struct Case {
        const char* what;
        Runner runner;
        const char* childMode;
        int result;
        bool childEnded;  // when the runner returns
    } cases[] = {
        {"primary thread ends, another runs on", Extract, "--thread", 0, true},
        {"primary thread ends, another runs on, no job", RunProgramWithoutJobs, "--thread", WAIT_OBJECT_0,
         false},
        {"primary thread ends, another runs on", RunProgram, "--thread", WAIT_OBJECT_0, true},
        {"time limit runs out", Extract, "--sleep", WAIT_TIMEOUT, false},
        {"time limit runs out", RunProgram, "--sleep", WAIT_TIMEOUT, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (c.runner == Extract ? " / RunExtractor" : " / RunProgram"));
        std::string done = s.dir + "\\done.txt";
        DeleteFileA(done.c_str());
        std::string command =
            s.child + " --out " + s.dir + "\\record.txt " + c.childMode + " 3000 --done " + done;
        // Only the thread or the process matters here, or only the limit.
        ExtractorTimeLimit = ProgramTimeLimit = std::string(c.childMode) == "--thread" ? 60000 : 300;
        ASSERT_TRUE(SetCurrentDirectoryA(s.home.c_str()));
        // An inheritable pipe of the caller's: a child that lives on must not
        // hold it open.
        SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE pipeRead = nullptr;
        HANDLE pipeWrite = nullptr;
        ASSERT_TRUE(CreatePipe(&pipeRead, &pipeWrite, &inheritable, 0));
        ASSERT_TRUE(SetHandleInformation(pipeRead, HANDLE_FLAG_INHERIT, 0));
        DWORD start = GetTickCount();
        EXPECT_EQ(c.runner(s.run.c_str(), command.c_str()), c.result);
        if (c.childEnded) {
            EXPECT_GE(GetTickCount() - start, 2900UL);
        }
        // The runner returned while the child lived on (however slowly it
        // started), or once it had ended.
        EXPECT_EQ(PathExists(done), c.childEnded);
        CloseHandle(pipeWrite);
        EXPECT_FALSE(PeekNamedPipe(pipeRead, nullptr, 0, nullptr, nullptr, nullptr))
            << "the child inherited it";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
        CloseHandle(pipeRead);
        EXPECT_EQ(CurrentDirectory(), s.home);
        if (c.runner == Extract && c.result == WAIT_TIMEOUT) {
            // The extractor is ended at its limit: its child never finishes.
            Sleep(3500);
            EXPECT_FALSE(PathExists(done));
        } else {
            EXPECT_TRUE(WaitForFile(done, 30000));
        }
        Sleep(200);  // let the child finish exiting before its files are reused
    }
}

// Started inside a job that forbids breakaway, as agents often start it: the
// child is started without breakaway, and its run still ends only when its
// process has ended (in a job of its own inside that one, from Windows 8 on).
TEST(Runners, InsideAJobThatForbidsBreakaway) {
    Restore restore;
    RunnerScratch s("runners-in-job");
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(AssignProcessToJobObject(job, GetCurrentProcess()));
    const std::string done = s.dir + "\\done.txt";
    ProgramTimeLimit = 60000;
    EXPECT_EQ(RunProgram(s.run.c_str(),
                         (s.child + " --out " + s.dir + "\\record.txt --thread 2000 --done " + done).c_str()),
              0);
    EXPECT_TRUE(PathExists(done));
    EXPECT_EQ(ReadRecord(s.dir + "\\record.txt")["directory"], s.run);
}

TEST(Runners, DebugModeShowsTheDiagnosticBoxesInOrder) {
    RunnerScratch s("runners-debug");
    ASSERT_TRUE(SkipWindowManagerWait("run_probe.exe"));
    std::string command = s.child + " --out " + s.dir + "\\record.txt";
    std::string missing = s.run + "\\missing.exe";
    using Boxes = std::vector<std::pair<std::string, std::string>>;  // title, text
    struct Case {
        const char* runner;
        std::string command;
        unsigned long exitCode;
        Boxes boxes;
    } cases[] = {
        {"extractor",
         command,
         0,
         {{"Velmora Quillet: Directory into Run", s.home},
          {"Velmora Quillet: Directory to Run From", s.run}}},
        {"extractor",
         missing,
         2,
         {{"Velmora Quillet: Directory into Run", s.home},
          {"Velmora Quillet: Directory to Run From", s.run},
          {"Velmora Quillet", "Program Exec Failed."}}},
        {"program",
         command,
         0,
         {{"Directory into Run", s.home}, {"Directory to Run From", s.run}, {"Running app", command}}},
        {"program",
         missing,
         2,
         {{"Directory into Run", s.home},
          {"Directory to Run From", s.run},
          {"Running app", missing},
          {"Velmora Quillet", "Program Exec failed with rc = 2."}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.runner) + " " + c.command);
        RunOptions options;
        options.exe = TestProgramDirectory() + "\\run_probe.exe";
        options.args = std::string(c.runner) + " " + s.run + " \"" + c.command + "\"";
        options.currentDir = s.home;
        RunResult result = RunAndRecord(options);
        ASSERT_EQ(result.startError, 0UL);
        EXPECT_EQ(result.exitCode, c.exitCode);
        Boxes seen;
        for (const BoxRecord& box : result.boxes) {
            seen.emplace_back(box.title, box.text);
        }
        EXPECT_EQ(seen, c.boxes);
    }
}

// The please-wait box is up before StartWaitNotice returns, so a close right
// after it (an extraction that ends at once) finds the box and takes it down.
TEST(WaitNotice, AnImmediateCloseFindsTheBox) {
    ASSERT_TRUE(SkipWindowManagerWait("run_probe.exe"));
    RunOptions options;
    options.exe = TestProgramDirectory() + "\\run_probe.exe";
    options.args = "notice";
    options.leaveOpen = {"Velmora Quillet Check 1.9"};
    for (int run = 0; run < 3; ++run) {
        RunResult result = RunAndRecord(options);
        EXPECT_EQ(result.exitCode, 1UL) << "the close found no box";
        // Gone as quickly as it came, or seen and closed by the program; never left up.
        for (const BoxRecord& box : result.boxes) {
            EXPECT_TRUE(box.closedByProgram) << box.text;
        }
    }
}

// From the 6.x family on, session 0 is the services', which no one sees, even
// where the window station says it is visible: no box may wait there. Before,
// it is the first user's own.
TEST(MessageBoxes, NoneInTheServicesSession) {
    const struct {
        const char* version;
        unsigned long canShow;
    } cases[] = {{"winxp", 1}, {"vista", 0}, {"win7", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        ASSERT_TRUE(SetReportedWindowsVersion("run_probe.exe", c.version));
        RunOptions options;
        options.exe = TestProgramDirectory() + "\\run_probe.exe";
        options.args = "session0";
        RunResult result = RunAndRecord(options);
        EXPECT_EQ(result.exitCode, c.canShow);
    }
    EXPECT_TRUE(SetReportedWindowsVersion("run_probe.exe", ""));
}
