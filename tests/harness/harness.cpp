// Runs a program under observation, records and answers its message boxes; scratch-file helpers for tests.
#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wctype.h>
#include <algorithm>

const DWORD kPollMs = 20;
// A box is read once it is visible and its text is set; an empty text is
// accepted after this long.
const DWORD kReadWaitMs = 1000;
// A pressed box that is still there after this long is pressed again.
const DWORD kRepressMs = 1000;
const char kScratchRoot[] = "C:\\setup-tests";
// Window property that marks a box as recorded. A window handle can be reused
// by the next box as soon as one closes; the property dies with its window,
// so a handle without our mark is a new box even when the value repeats.
const char kSeenProperty[] = "SetupTestHarnessBox";
// Tests run side by side in one Wine prefix, so whatever a program reads
// from the prefix at start-up is set per run, by one test at a time, under
// this mutex and these slots (see ReportedVersionGate).
const wchar_t kVersionMutex[] = L"setup-tests-reported-version";
const wchar_t kProgramSlotsName[] = L"setup-tests-running-programs";
const LONG kProgramSlots = 64;
// A slot is lost for good when a test process dies holding it (a semaphore
// has no owner): a start that sets a version, and so holds the mutex while it
// waits for every slot, waits at most this long, so that one lost slot never
// stalls every other test for minutes.
const DWORD kSlotWaitMs = 60 * 1000;
// Starts of one program, when Wine fails them (see RunAndRecord).
const unsigned kStartTries = 3;
// Every scratch name a test has made, kept in the prefix for good, so that a
// test looking for strays beside its own scratch directories can tell them
// from the other tests' ones.
const wchar_t kScratchNamesKey[] = L"Software\\SetupTests\\ScratchNames";
// Held by the test process that uses a scratch name, for its whole life.
const wchar_t kScratchMutexPrefix[] = L"setup-tests-scratch-";

namespace {

struct TrackedBox {
    HWND hwnd;
    size_t index;  // into RunResult::boxes
    HANDLE mark;   // value of kSeenProperty we set on it
    bool pressed;
    DWORD pressedAt;
};

struct BoxSearch {
    DWORD pid;
    std::vector<HWND> found;
};

}  // namespace

static BOOL CALLBACK CollectBox(HWND hwnd, LPARAM param) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != search->pid) {
        return TRUE;
    }
    char className[16];
    if (GetClassNameA(hwnd, className, sizeof className) > 0 && strcmp(className, "#32770") == 0) {
        search->found.push_back(hwnd);
    }
    return TRUE;
}

static std::vector<HWND> ProcessBoxes(DWORD pid) {
    BoxSearch search{pid, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// For a window of another process GetWindowTextA reads the stored text
// without sending a message, so a busy or hung program cannot block us.
static std::string WindowText(HWND hwnd) {
    std::vector<char> buffer(65536);
    int length = GetWindowTextA(hwnd, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), length > 0 ? static_cast<size_t>(length) : 0);
}

static BOOL CALLBACK CollectButton(HWND hwnd, LPARAM param) {
    char className[16];
    if (GetClassNameA(hwnd, className, sizeof className) > 0 && _stricmp(className, "Button") == 0 &&
        (GetWindowLongA(hwnd, GWL_STYLE) & WS_VISIBLE) != 0) {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    }
    return TRUE;
}

static std::vector<HWND> Buttons(HWND box) {
    std::vector<HWND> buttons;
    EnumChildWindows(box, CollectButton, reinterpret_cast<LPARAM>(&buttons));
    return buttons;
}

// The message text is the Static control with id 0xFFFF, as on Windows; Wine
// builds its message box the same way. It is filled in before the box is shown.
static void ReadBox(HWND hwnd, BoxRecord& box) {
    DWORD start = GetTickCount();
    for (;;) {
        bool visible = IsWindowVisible(hwnd) != FALSE;
        HWND textControl = GetDlgItem(hwnd, 0xFFFF);
        box.text = textControl != NULL ? WindowText(textControl) : std::string();
        if ((visible && !box.text.empty()) || !IsWindow(hwnd) || GetTickCount() - start >= kReadWaitMs) {
            break;
        }
        Sleep(10);
    }
    box.title = WindowText(hwnd);
    box.hasOwner = GetWindow(hwnd, GW_OWNER) != NULL;
    box.buttons.clear();
    for (HWND button : Buttons(hwnd)) {
        box.buttons.push_back(WindowText(button));
    }
}

// Posts the command the OK button sends: it needs no reply, so a busy program
// cannot block the harness. A box without OK gets its first button instead.
static void PressOk(HWND hwnd) {
    HWND button = GetDlgItem(hwnd, IDOK);
    if (button == NULL) {
        std::vector<HWND> buttons = Buttons(hwnd);
        button = buttons.empty() ? NULL : buttons.front();
    }
    WPARAM id = button != NULL ? static_cast<WPARAM>(GetDlgCtrlID(button)) : IDOK;
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

static bool IsListed(const std::vector<std::string>& titles, const std::string& title) {
    for (const std::string& listed : titles) {
        if (listed == title) {
            return true;
        }
    }
    return false;
}

static bool StillOurs(const TrackedBox& tracked, const std::vector<HWND>& present) {
    for (HWND hwnd : present) {
        if (hwnd == tracked.hwnd) {
            return GetPropA(hwnd, kSeenProperty) == tracked.mark;
        }
    }
    return false;
}

// One look at the process's boxes: retire the ones that went away, record
// and answer new ones, and press again a box that ignored the first press.
// Once the process has ended nothing is pressed, and what went away went
// with the process.
static void Sweep(DWORD pid, bool ended, const RunOptions& options, RunResult& result,
                  std::vector<TrackedBox>& tracked, std::vector<HWND>& retired, unsigned& nextMark) {
    std::vector<HWND> present = ProcessBoxes(pid);
    for (size_t i = 0; i < tracked.size();) {
        if (StillOurs(tracked[i], present)) {
            ++i;
            continue;
        }
        if (!tracked[i].pressed) {
            BoxRecord& box = result.boxes[tracked[i].index];
            (ended ? box.openAtExit : box.closedByProgram) = true;
        }
        retired.push_back(tracked[i].hwnd);
        tracked.erase(tracked.begin() + static_cast<std::ptrdiff_t>(i));
    }
    // EnumWindows lists the topmost first; walk backwards so that boxes that
    // appeared in the same interval are recorded oldest first.
    for (auto it = present.rbegin(); it != present.rend(); ++it) {
        HWND hwnd = *it;
        bool known = false;
        for (TrackedBox& box : tracked) {
            if (box.hwnd == hwnd) {
                known = true;
                if (!ended && box.pressed && GetTickCount() - box.pressedAt >= kRepressMs) {
                    PressOk(hwnd);
                    box.pressedAt = GetTickCount();
                }
            }
        }
        // A box being destroyed can lose its mark a moment before it leaves
        // the window list; it is the same box, not a new one. (Wine gives a
        // reused window slot a new handle value.)
        if (known || std::find(retired.begin(), retired.end(), hwnd) != retired.end()) {
            continue;
        }
        TrackedBox box{hwnd, result.boxes.size(),
                       reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(++nextMark)), false, 0};
        // Without the mark, fall back to telling boxes apart by handle alone.
        if (!SetPropA(hwnd, kSeenProperty, box.mark)) {
            box.mark = NULL;
        }
        result.boxes.emplace_back();
        ReadBox(hwnd, result.boxes.back());
        // A box pressed a moment ago can be destroyed between the window list
        // above and the look at its mark, so its handle seems new. Gone before
        // anything could be read, it is no new box.
        const BoxRecord& read = result.boxes.back();
        if (!IsWindow(hwnd) && read.title.empty() && read.text.empty() && read.buttons.empty()) {
            result.boxes.pop_back();
            continue;
        }
        if (!ended && !IsListed(options.leaveOpen, result.boxes.back().title)) {
            PressOk(hwnd);
            box.pressed = true;
            box.pressedAt = GetTickCount();
        }
        tracked.push_back(box);
    }
}

// The text of an option in UTF-16, read as UTF-8 or in the ANSI code page.
static std::wstring Widen(const std::string& text, bool utf8) {
    if (text.empty()) {
        return std::wstring();
    }
    UINT codePage = utf8 ? CP_UTF8 : CP_ACP;
    int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

static bool CompareTextInsensitively(const std::string& a, const std::string& b) {
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

static bool CompareTextInsensitively(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// The test's own environment block with the options' changes, in the
// program's character set: ANSI through the ANSI functions as the tests have
// always started their programs, UTF-16 for options in UTF-8.
template <typename Char>
static std::vector<Char> BuildEnvironment(
    const std::vector<std::basic_string<Char>>& own,
    const std::vector<std::pair<std::basic_string<Char>, std::basic_string<Char>>>& changes) {
    std::vector<std::basic_string<Char>> entries = own;
    for (const auto& change : changes) {
        for (size_t i = 0; i < entries.size();) {
            // Entries such as "=C:=C:\dir" start with '='; the name ends at the next one.
            std::basic_string<Char> name = entries[i].substr(0, entries[i].find(Char('='), 1));
            if (CompareTextInsensitively(name, change.first)) {
                entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        if (!change.second.empty()) {
            entries.push_back(change.first + Char('=') + change.second);
        }
    }
    std::vector<Char> result;
    for (const auto& entry : entries) {
        result.insert(result.end(), entry.begin(), entry.end());
        result.push_back(Char(0));
    }
    if (entries.empty()) {
        result.push_back(Char(0));
    }
    result.push_back(Char(0));
    return result;
}

// Wide, so that names the ANSI code page cannot spell go too.
static bool RemoveTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    // A reparse point is removed itself, never walked into.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return DeleteFileW(path.c_str()) != FALSE;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
                    RemoveTree(path + L"\\" + found.cFileName);
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
    }
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

static bool WriteBytes(const std::string& path, const std::string& bytes, const char* mode) {
    FILE* file = fopen(path.c_str(), mode);
    if (file == NULL) {
        return false;
    }
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

// Sets (or with an empty data deletes) a string value below HKCU.
static bool SetUserValue(const std::wstring& keyName, const std::wstring& valueName,
                         const std::wstring& data) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyName.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG status;
    if (data.empty()) {
        status = RegDeleteValueW(key, valueName.c_str());
        if (status == ERROR_FILE_NOT_FOUND) {
            status = ERROR_SUCCESS;
        }
    } else {
        status =
            RegSetValueExW(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// Wine looks a program's settings up by its file name, in any case.
static std::wstring Lowered(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return text;
}

static std::wstring FileNameOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return Lowered(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

static std::wstring AppDefaultsKey(const std::wstring& exeName) {
    return L"Software\\Wine\\AppDefaults\\" + FileNameOf(exeName);
}

// The Windows version this test process asked for, by program file name.
static std::vector<std::pair<std::wstring, std::wstring>> reportedVersions;

static std::wstring ReportedVersionFor(const std::wstring& exeName) {
    for (const auto& entry : reportedVersions) {
        if (entry.first == FileNameOf(exeName)) {
            return entry.second;
        }
    }
    return std::wstring();
}

// Wine reads the version a program is told from the prefix's registry, once,
// as the process starts, by its file name: the value for "setup.exe" reaches
// every setup.exe that starts while it is there, a test's own or another's,
// and a program's children too (the installer SETUP.EXE, a chained setup.exe
// that PostProcess.cmd starts). Nor does the program read it before
// CreateProcess returns, but at some moment after. So the gate is a lock of
// readers and writers over the whole prefix. A start with the prefix's own
// version reads: it takes one slot of a semaphore and keeps it until its
// program has ended. A start that sets a value writes: it takes every slot,
// that is, waits until no such program (nor its children, which it waits
// for) still runs, sets the value and keeps the slots until its program has
// ended, then removes the value. Every start takes a mutex first, which a
// writer keeps to the end, so that starts after a waiting writer wait too.
class ReportedVersionGate {
public:
    explicit ReportedVersionGate(const std::wstring& exe)
        : mutex_(CreateMutexW(NULL, FALSE, kVersionMutex)),
          slots_(CreateSemaphoreW(NULL, kProgramSlots, kProgramSlots, kProgramSlotsName)),
          key_(AppDefaultsKey(exe)) {
        // WAIT_ABANDONED, a test that died holding it, gives it to us all the same.
        if (mutex_ != NULL) {
            WaitForSingleObject(mutex_, INFINITE);
        }
        version_ = ReportedVersionFor(exe);
        set_ = !version_.empty();
        TakeSlots(set_ ? kProgramSlots : 1);
        SetUserValue(key_, L"Version", version_);
    }
    ReportedVersionGate(const ReportedVersionGate&) = delete;
    ReportedVersionGate& operator=(const ReportedVersionGate&) = delete;
    ~ReportedVersionGate() {
        if (set_) {
            SetUserValue(key_, L"Version", L"");
        }
        if (slots_ != NULL) {
            if (held_ > 0) {
                ReleaseSemaphore(slots_, held_, NULL);
            }
            CloseHandle(slots_);
        }
        ReleaseMutexOnce();
    }

    // Once the program has started: other starts may begin, unless this one
    // set a value, which its program keeps until it ends.
    void Started() {
        if (!set_) {
            ReleaseMutexOnce();
        }
    }

private:
    // A slot a test that died while its program ran never gives back: past
    // the limit the start goes on, and says so.
    void TakeSlots(LONG count) {
        const DWORD start = GetTickCount();
        while (slots_ != NULL && held_ < count) {
            const DWORD waited = GetTickCount() - start;
            if (waited >= kSlotWaitMs || WaitForSingleObject(slots_, kSlotWaitMs - waited) != WAIT_OBJECT_0) {
                fprintf(stderr,
                        "harness: another test's program still runs after %lu s; starting all the same\n",
                        static_cast<unsigned long>(kSlotWaitMs / 1000));
                return;
            }
            ++held_;
        }
    }

    void ReleaseMutexOnce() {
        if (mutex_ != NULL) {
            ReleaseMutex(mutex_);
            CloseHandle(mutex_);
            mutex_ = NULL;
        }
    }

    HANDLE mutex_;
    HANDLE slots_;
    LONG held_ = 0;
    std::wstring key_;
    std::wstring version_;
    bool set_ = false;
};

// "Suite.Name" of the running test, or "pid<N>" outside one.
static std::string CurrentTestName() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != NULL ? std::string(info->test_suite_name()) + "." + info->name()
                                    : "pid" + std::to_string(GetCurrentProcessId());
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

// TEMP and TMP of a program the test starts without its own: a directory of
// the test's own below the test process's temporary directory, emptied the
// first time this process uses it. "" on failure.
static std::string PrivateTempDirectory() {
    static std::vector<std::string> prepared;
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base) {
        return std::string();
    }
    std::string path = std::string(base, length) + "setup-test-" + CurrentTestName();
    if (std::find(prepared.begin(), prepared.end(), path) == prepared.end()) {
        if (!RemoveTree(Widen(path, false)) || !CreateDirectoryA(path.c_str(), NULL)) {
            return std::string();
        }
        prepared.push_back(path);
    }
    return path;
}

static bool Mentions(const std::vector<std::pair<std::string, std::string>>& env, const char* name) {
    for (const auto& change : env) {
        if (_stricmp(change.first.c_str(), name) == 0) {
            return true;
        }
    }
    return false;
}

// Starts the program once; returns 0, or why it did not start.
static DWORD StartProgram(const RunOptions& options, const std::string& commandLine,
                          const std::vector<std::pair<std::string, std::string>>& env,
                          PROCESS_INFORMATION* process) {
    ZeroMemory(process, sizeof *process);
    BOOL started = FALSE;
    DWORD startError = 0;
    if (!options.utf8 && options.exeDir.empty()) {
        std::vector<char> command(commandLine.begin(), commandLine.end());
        command.push_back('\0');
        std::vector<std::string> own;
        char* block = GetEnvironmentStringsA();
        for (const char* entry = block; entry != NULL && *entry != '\0'; entry += strlen(entry) + 1) {
            own.emplace_back(entry);
        }
        FreeEnvironmentStringsA(block);
        std::vector<char> environment = BuildEnvironment(own, env);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        std::string desktop = options.windowStation + "\\Default";
        if (!options.windowStation.empty()) {
            startup.lpDesktop = &desktop[0];
        }
        started =
            CreateProcessA(NULL, command.data(), NULL, NULL, FALSE, options.creationFlags, environment.data(),
                           options.currentDir.empty() ? NULL : options.currentDir.c_str(), &startup, process);
        startError = started ? 0 : GetLastError();
    } else {
        std::wstring wideCommandLine = Widen(commandLine, options.utf8);
        std::vector<wchar_t> command(wideCommandLine.begin(), wideCommandLine.end());
        command.push_back(L'\0');
        std::vector<std::wstring> own;
        wchar_t* block = GetEnvironmentStringsW();
        for (const wchar_t* entry = block; entry != NULL && *entry != L'\0'; entry += wcslen(entry) + 1) {
            own.emplace_back(entry);
        }
        FreeEnvironmentStringsW(block);
        std::vector<std::pair<std::wstring, std::wstring>> changes;
        for (const auto& change : env) {
            changes.emplace_back(Widen(change.first, options.utf8), Widen(change.second, options.utf8));
        }
        std::vector<wchar_t> environment = BuildEnvironment(own, changes);
        std::wstring currentDir = Widen(options.currentDir, options.utf8);
        std::wstring exeDir = Widen(options.exeDir, options.utf8);
        std::wstring application = Widen(options.exe, options.utf8);
        STARTUPINFOW startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        std::wstring desktop = Widen(options.windowStation + "\\Default", options.utf8);
        if (!options.windowStation.empty()) {
            startup.lpDesktop = &desktop[0];
        }
        wchar_t ownDir[MAX_PATH];
        const DWORD ownLength = exeDir.empty() ? 0 : GetCurrentDirectoryW(MAX_PATH, ownDir);
        if (!exeDir.empty() &&
            (ownLength == 0 || ownLength >= MAX_PATH || !SetCurrentDirectoryW(exeDir.c_str()))) {
            return ERROR_DIRECTORY;
        }
        started =
            CreateProcessW(exeDir.empty() ? NULL : application.c_str(), command.data(), NULL, NULL, FALSE,
                           CREATE_UNICODE_ENVIRONMENT | options.creationFlags, environment.data(),
                           currentDir.empty() ? NULL : currentDir.c_str(), &startup, process);
        startError = started ? 0 : GetLastError();
        if (!exeDir.empty()) {
            SetCurrentDirectoryW(ownDir);
        }
    }
    return started ? 0 : startError;
}

namespace {

// One program RunAllAndRecord started and watches.
struct WatchedRun {
    RunResult result;
    HANDLE process = NULL;
    DWORD pid = 0;
    DWORD start = 0;
    bool ended = true;  // until it has started
    std::unique_ptr<ReportedVersionGate> gate;
    std::vector<TrackedBox> tracked;
    std::vector<HWND> retired;
    unsigned nextMark = 0;
};

}  // namespace

// Starts the program of options; on failure the run stays ended, with its
// start error.
static void StartRun(const RunOptions& options, WatchedRun& run) {
    RunResult& result = run.result;
    // Message boxes of this program close without Wine's wait for a window manager.
    size_t slash = options.exe.find_last_of("\\/");
    (void)SkipWindowManagerWait(slash == std::string::npos ? options.exe : options.exe.substr(slash + 1));
    std::string commandLine = "\"" + options.exe + "\"";
    if (!options.args.empty()) {
        commandLine += " " + options.args;
    }
    std::vector<std::pair<std::string, std::string>> env;
    if (!Mentions(options.env, "TEMP") && !Mentions(options.env, "TMP")) {
        const std::string temp = PrivateTempDirectory();
        if (temp.empty()) {
            result.startError = ERROR_DIRECTORY;
            return;
        }
        env = {{"TEMP", temp}, {"TMP", temp}};
    }
    env.insert(env.end(), options.env.begin(), options.env.end());
    run.gate.reset(new ReportedVersionGate(Widen(options.exe, options.utf8)));
    PROCESS_INFORMATION process;
    DWORD startError = 0;
    // Now and then Wine's own start of a process fails, the new process
    // dying before any of its code ran (ERROR_INTERNAL_ERROR, under load):
    // it is started again, and the output says so.
    for (unsigned attempt = 1;; ++attempt) {
        startError = StartProgram(options, commandLine, env, &process);
        if (startError != ERROR_INTERNAL_ERROR || attempt == kStartTries) {
            break;
        }
        ++result.startRetries;
        fprintf(stderr, "harness: Wine could not start %s (error %lu); starting it again\n",
                options.exe.c_str(), static_cast<unsigned long>(startError));
        fflush(stderr);
    }
    if (startError != 0) {
        result.startError = startError;
        run.gate.reset();
        return;
    }
    CloseHandle(process.hThread);
    // The gate is kept until the program ends: its slot, or with a version
    // the whole gate, is held while it runs.
    run.gate->Started();
    run.process = process.hProcess;
    run.pid = process.dwProcessId;
    run.start = GetTickCount();
    run.ended = false;
}

// Its exit code, the boxes still open, and the gate opened for the next start.
static void FinishRun(WatchedRun& run) {
    for (const TrackedBox& box : run.tracked) {
        if (!box.pressed) {
            run.result.boxes[box.index].openAtExit = true;
        }
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(run.process, &exitCode);
    run.result.exitCode = exitCode;
    CloseHandle(run.process);
    run.gate.reset();
}

// All from the calling thread: where 32-bit Wine runs under qemu-user, a test
// process whose threads each watched a program of their own crashed at once
// (a thread ran with another's stack limits), so the programs that run at
// the same time are watched in turn.
std::vector<RunResult> RunAllAndRecord(const std::vector<RunOptions>& runs) {
    std::vector<WatchedRun> watched(runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
        StartRun(runs[i], watched[i]);
    }
    for (;;) {
        std::vector<HANDLE> running;
        for (const WatchedRun& run : watched) {
            if (!run.ended) {
                running.push_back(run.process);
            }
        }
        if (running.empty()) {
            break;
        }
        WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), FALSE, kPollMs);
        for (size_t i = 0; i < runs.size(); ++i) {
            WatchedRun& run = watched[i];
            if (run.ended) {
                continue;
            }
            run.ended = WaitForSingleObject(run.process, 0) == WAIT_OBJECT_0;
            if (!run.ended && GetTickCount() - run.start >= runs[i].timeoutMs) {
                Sweep(run.pid, false, runs[i], run.result, run.tracked, run.retired, run.nextMark);
                TerminateProcess(run.process, kTimeoutExitCode);
                WaitForSingleObject(run.process, INFINITE);
                run.result.timedOut = true;
                run.ended = true;
            }
            Sweep(run.pid, run.ended, runs[i], run.result, run.tracked, run.retired, run.nextMark);
            if (run.ended) {
                FinishRun(run);
            }
        }
    }
    std::vector<RunResult> results;
    for (WatchedRun& run : watched) {
        results.push_back(std::move(run.result));
    }
    return results;
}

RunResult RunAndRecord(const RunOptions& options) {
    return RunAllAndRecord({options}).front();
}

int FindBox(const RunResult& result, const std::string& title, const std::string& text) {
    for (size_t i = 0; i < result.boxes.size(); ++i) {
        if (result.boxes[i].title == title && result.boxes[i].text == text) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool SetReportedWindowsVersion(const std::string& exeName, const std::string& version) {
    const std::wstring name = FileNameOf(Widen(exeName, false));
    if (name.empty()) {
        return false;
    }
    // The value itself is written only while one of the test's programs starts.
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, AppDefaultsKey(name).c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL,
                        &key, NULL) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    reportedVersions.erase(std::remove_if(reportedVersions.begin(), reportedVersions.end(),
                                          [&](const std::pair<std::wstring, std::wstring>& entry) {
                                              return entry.first == name;
                                          }),
                           reportedVersions.end());
    if (!version.empty()) {
        reportedVersions.emplace_back(name, Widen(version, false));
    }
    return true;
}

bool SkipWindowManagerWait(const std::string& exeName) {
    return SetUserValue(AppDefaultsKey(Widen(exeName, false)) + L"\\X11 Driver", L"Managed", L"N");
}

std::string TestProgramDirectory() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(NULL, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::string();
        }
        // A full buffer means the name may have been cut.
        if (length < path.size()) {
            std::string full(path.data(), length);
            size_t slash = full.find_last_of("\\/");
            return slash == std::string::npos ? std::string() : full.substr(0, slash);
        }
        path.resize(path.size() * 2);
    }
}

// Names held by this test process; their mutexes stay open until it ends.
static std::vector<std::wstring> claimedScratchNames;

static bool ClaimScratch(const std::wstring& name) {
    const std::wstring lowered = Lowered(name);
    if (std::find(claimedScratchNames.begin(), claimedScratchNames.end(), lowered) !=
        claimedScratchNames.end()) {
        return true;
    }
    // Logged before the mutex is taken and the directory made, so that the
    // directory never shows under a name that is not known yet.
    if (!SetUserValue(kScratchNamesKey, lowered, L"1")) {
        return false;
    }
    HANDLE mutex = CreateMutexW(NULL, FALSE, (kScratchMutexPrefix + lowered).c_str());
    if (mutex == NULL) {
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        fprintf(stderr, "harness: scratch name \"%ls\" is in use by another running test\n", name.c_str());
        return false;
    }
    claimedScratchNames.push_back(lowered);
    return true;
}

bool ClaimScratchName(const std::string& name) {
    return ClaimScratch(Widen(name, true));
}

bool IsScratchName(const std::string& name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kScratchNamesKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    bool known =
        RegQueryValueExW(key, Lowered(Widen(name, true)).c_str(), NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return known;
}

std::string MakeScratchDirectory(const std::string& name) {
    // Only a plain directory name: the tree below it is deleted.
    if (name.empty() || name == "." || name == ".." || name.find_first_of("\\/:") != std::string::npos) {
        return std::string();
    }
    if (!ClaimScratch(Widen(name, false))) {
        return std::string();
    }
    std::string path = std::string(kScratchRoot) + "\\" + name;
    CreateDirectoryA(kScratchRoot, NULL);
    if (!RemoveTree(Widen(path, false)) || !CreateDirectoryA(path.c_str(), NULL)) {
        return std::string();
    }
    return path;
}

std::string MakePackageDirectory(const std::string& name, const std::vector<std::string>& tailTags) {
    std::string source = TestProgramDirectory();
    std::string package = MakeScratchDirectory(name);
    if (source.empty() || package.empty()) {
        return std::string();
    }
    std::string tail;
    for (const std::string& tag : tailTags) {
        tail += tag + "\r\n";
    }
    if (!CopyFileTo(source + "\\setup.exe", package + "\\setup.exe") ||
        !AppendToFile(package + "\\setup.exe", tail)) {
        return std::string();
    }
    if (PathExists(source + "\\unzip.exe") && !CopyFileTo(source + "\\unzip.exe", package + "\\unzip.exe")) {
        return std::string();
    }
    return package;
}

bool CopyFileTo(const std::string& from, const std::string& to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
        return false;
    }
    // A copy keeps the read-only bit; tests append to their copies.
    DWORD attributes = GetFileAttributesA(to.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           SetFileAttributesA(to.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    return WriteBytes(path, text, "wb");
}

bool AppendToFile(const std::string& path, const std::string& text) {
    return WriteBytes(path, text, "ab");
}

std::string ReadTextFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == NULL) {
        return std::string();
    }
    std::string content;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) {
        content.append(chunk, got);
    }
    fclose(file);
    return content;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
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

// Whether a listing of dir shows name.
static bool Listed(const std::string& dir, const std::string& name) {
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((dir + "\\*").c_str(), &entry);
    bool found = false;
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            found = found || name == entry.cFileName;
        } while (FindNextFileA(listing, &entry));
        FindClose(listing);
    }
    return found;
}

// A link named name in dir to target, relative to dir, once a listing of dir
// shows it too.
bool MakeLink(const std::string& dir, const std::string& target, const std::string& name) {
    const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return RunUnixTool(dir, "ln -s " + target + " " + name, [&] {
        return (GetFileAttributesA((dir + "\\" + name).c_str()) & link) == link && Listed(dir, name);
    });
}

// Removes the scratch directory name, links and all.
bool RemoveWithLinks(const std::string& name) {
    const std::string root = "C:\\setup-tests";
    CreateDirectoryA(root.c_str(), nullptr);
    // There for certain, so that its going is rm's doing.
    CreateDirectoryA((root + "\\" + name).c_str(), nullptr);
    return RunUnixTool(root, "rm -rf " + name, [&] { return !PathExists(root + "\\" + name); });
}
