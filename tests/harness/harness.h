// End-to-end test support: start a program, record and answer its message boxes, prepare scratch files.
#ifndef SETUP_TESTS_HARNESS_H
#define SETUP_TESTS_HARNESS_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

// One message box as the harness saw it, in the order the boxes appeared.
// Exactly one of three endings applies: the harness pressed OK (both flags
// false), the program closed the box itself (closedByProgram), or the box
// was still on screen when the process ended or was killed (openAtExit).
struct BoxRecord {
    std::string title;
    std::string text;                  // line breaks as "\n"; a text still empty is taken after 1 s
    std::vector<std::string> buttons;  // visible button captions, as Wine shows them ("OK")
    bool hasOwner = false;
    // Disappeared while the process still ran, and the harness had not pressed it
    // (only possible for a title in RunOptions::leaveOpen).
    bool closedByProgram = false;
    // Not pressed and not seen gone before the process ended. Boxes are polled
    // every 20 ms, so a box the program closes less than that before it exits
    // also lands here.
    bool openAtExit = false;
};

struct RunOptions {
    std::string exe;  // Windows path of the program to start
    // Non-empty: exe is a file name in this directory, started through it as
    // the harness's own current directory, for a program path of MAX_PATH or
    // more, which CreateProcess takes no other way.
    std::string exeDir;
    std::string args;        // appended after the quoted exe path, separated by a space
    std::string currentDir;  // empty: the test's own current directory
    // Environment overrides on top of the test's own environment; names match
    // case-insensitively; an empty value removes the variable. Unless TEMP or
    // TMP is among them, both name a directory of the running test's own,
    // so that tests running side by side never share a temporary directory.
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<std::string> leaveOpen;  // box titles recorded but not pressed
    unsigned timeoutMs = 120000;         // past this the process is killed and timedOut set
    // Non-empty: the program runs on this window station (its desktop
    // "Default"), which Wine creates without WSF_VISIBLE, as a service's is in
    // session 0. Its boxes are not seen, and a box there never returns.
    std::string windowStation;
    // Added to the program's creation flags (DETACHED_PROCESS: no console,
    // as for a GUI program started from Explorer).
    unsigned long creationFlags = 0;
    // The strings above are UTF-8 rather than ANSI, for names the ANSI code
    // page cannot spell; the program is started through the wide API either way.
    bool utf8 = false;
};

struct RunResult {
    unsigned long startError = 0;  // GetLastError() of CreateProcessA; 0 when the program started
    // Starts Wine failed with ERROR_INTERNAL_ERROR before this one; each is
    // reported on stderr ("harness: Wine could not start ...").
    unsigned startRetries = 0;
    unsigned long exitCode = 0;  // kTimeoutExitCode after a kill
    bool timedOut = false;
    std::vector<BoxRecord> boxes;
};

// Exit code the harness gives a program it kills at the time limit.
const unsigned long kTimeoutExitCode = 0xDEAD;

// Starts the program, records each message box (top-level "#32770" window of
// that process only, not of its children), presses OK on every box whose
// title is not in leaveOpen, and returns when the process has ended. The
// program is told the Windows version the test chose for its file name.
RunResult RunAndRecord(const RunOptions& options);

// Starts every program at once and watches them all as RunAndRecord does,
// from the calling thread; returns once all have ended, the results in the
// order of runs.
std::vector<RunResult> RunAllAndRecord(const std::vector<RunOptions>& runs);

// Index of the first box with exactly this title and text, or -1.
int FindBox(const RunResult& result, const std::string& title, const std::string& text);

// The Windows version (e.g. "win2k", "winxp", "win2003", "vista", "win7",
// "win10", "nt40", "win98") RunAndRecord has Wine report to the programs of
// this file name (any case) it starts for the running test process, through
// HKCU\Software\Wine\AppDefaults\<exeName> "Version"; an empty version
// gives them the prefix's own again. Wine reads the value by file name, so
// it reaches the program's children of that name too (a package's
// SETUP.EXE). It is there only while such a program runs, and then no other
// program of any test starts or still runs (see ReportedVersionGate in
// harness.cpp): the other tests' programs always see the prefix's version.
// Returns false when the registry key cannot be written.
bool SetReportedWindowsVersion(const std::string& exeName, const std::string& version);

// Sets HKCU\Software\Wine\AppDefaults\<exeName>\X11 Driver "Managed" = "N"
// for good. Without a window manager on the display (a bare Xvfb), Wine waits
// up to 2 s for one each time a managed window such as a message box is
// hidden; unmanaged windows close at once. Nothing else a Windows program sees
// changes. Returns false when the registry write fails.
bool SkipWindowManagerWait(const std::string& exeName);

// Directory of the running test executable, without a trailing backslash.
std::string TestProgramDirectory();

// C:\setup-tests\<name>, emptied (read-only files included) and created anew.
// name must be one plain path component, and no other running test's (see
// ClaimScratchName). Returns "" on failure.
std::string MakeScratchDirectory(const std::string& name);

// Claims a name below C:\setup-tests (UTF-8, any case) for the running test
// process, for a directory a test makes itself; MakeScratchDirectory claims
// its names. False when another running test holds it (tests running side by
// side must use different names) or the claim cannot be recorded.
bool ClaimScratchName(const std::string& name);

// Whether any test, running or not, has ever claimed the name (UTF-8): how a
// test tells the other tests' scratch directories from strays a program made.
bool IsScratchName(const std::string& name);

// Scratch directory <name> holding a copy of setup.exe from
// TestProgramDirectory() with each tag appended to it as "tag\r\n", and a copy
// of unzip.exe when one is there too. Returns "" on failure.
std::string MakePackageDirectory(const std::string& name, const std::vector<std::string>& tailTags);

// File helpers; all binary, all return false (or "") on failure.
bool CopyFileTo(const std::string& from, const std::string& to);  // overwrites
bool WriteTextFile(const std::string& path, const std::string& text);
bool AppendToFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);
bool PathExists(const std::string& path);  // file or directory

// The lines of a text with CR LF line ends, as the recording programs write them.
std::vector<std::string> SplitLines(const std::string& text);

// Runs a Unix tool of the Wine host (Z:\bin\<commandLine>) in dir, and
// waits until done() holds. Wine makes no links itself (CreateSymbolicLink is
// a stub) but shows a Unix symbolic link to a directory as one: a directory
// with FILE_ATTRIBUTE_REPARSE_POINT.
bool RunUnixTool(const std::string& dir, const std::string& commandLine, const std::function<bool()>& done);

// A link named name in dir to target, relative to dir, once a listing of dir
// shows it too.
bool MakeLink(const std::string& dir, const std::string& target, const std::string& name);

// Removes the scratch directory name, links and all: MakeScratchDirectory
// leaves a link to a directory, which Wine cannot remove.
bool RemoveWithLinks(const std::string& name);

#endif
