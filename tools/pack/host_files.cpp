// Files, directories and the archive lister for the packaging tool.
#include "tools/pack/host_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <stdlib.h>
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) {
    return fs::u8path(utf8);
}

std::string TextOf(const fs::path& path) {
    return path.u8string();
}

std::string GenericTextOf(const fs::path& path) {
    return path.generic_u8string();
}

#ifdef _WIN32
static std::wstring Wide(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (length > 0) {
        (void)MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    }
    return wide;
}

FILE* OpenFile(const std::string& utf8, const char* mode) {
    return _wfopen(Wide(utf8).c_str(), Wide(mode).c_str());
}

// The text in the ANSI code page when it spells it exactly, else "".
static std::string ExactAnsi(const std::wstring& wide) {
    if (wide.empty()) {
        return "";
    }
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                           static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
    std::string ansi(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length <= 0 || usedDefault ||
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                            &ansi[0], length, nullptr, &usedDefault) != length ||
        usedDefault) {
        return "";
    }
    std::wstring back(wide.size() + 1, L'\0');
    const int again = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), length, &back[0],
                                          static_cast<int>(back.size()));
    return again == static_cast<int>(wide.size()) && back.compare(0, wide.size(), wide) == 0 ? ansi : "";
}

std::string ExactAnsiSpelling(const std::string& utf8) {
    return ExactAnsi(Wide(utf8));
}

std::string AnsiSpelling(const std::string& utf8) {
    const std::wstring wide = Wide(utf8);
    const std::string exact = ExactAnsi(wide);
    if (!exact.empty() || utf8.empty()) {
        return exact;
    }
    wchar_t shortPath[MAX_PATH];
    const DWORD length = GetShortPathNameW(wide.c_str(), shortPath, MAX_PATH);
    return length > 0 && length < MAX_PATH ? ExactAnsi(std::wstring(shortPath, length)) : "";
}
#else
FILE* OpenFile(const std::string& utf8, const char* mode) {
    return fopen(utf8.c_str(), mode);
}

std::string ExactAnsiSpelling(const std::string& utf8) {
    return utf8;
}

std::string AnsiSpelling(const std::string& utf8) {
    return utf8;
}
#endif

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    if (IsDirectory(path)) {
        error = "is a directory";
        return false;
    }
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        error = strerror(errno);
        return false;
    }
    bytes.clear();
    char buffer[65536];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, got);
    }
    const bool failed = ferror(file) != 0;
    (void)fclose(file);  // read-only: nothing to lose
    if (failed) {
        error = "read error";
        return false;
    }
    return true;
}

#ifdef _WIN32
static int OpenNewFile(const char* name) {
    return _wopen(Wide(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
static int WriteSome(int handle, const char* data, size_t size) {
    return _write(handle, data, static_cast<unsigned>(size));
}
static int FlushAndClose(int handle) {
    return _commit(handle) == 0 && _close(handle) == 0;
}
static int ProcessNumber() {
    return _getpid();
}
#else
static int OpenNewFile(const char* name) {
    return open(name, O_WRONLY | O_CREAT | O_EXCL, 0600);
}
static int WriteSome(int handle, const char* data, size_t size) {
    return static_cast<int>(write(handle, data, size));
}
static int FlushAndClose(int handle) {
    const int synced = fsync(handle) == 0;
    return close(handle) == 0 && synced;
}
static int ProcessNumber() {
    return getpid();
}
#endif

bool ReplaceFileContents(const std::string& path, const std::string& bytes, std::string& error) {
    std::error_code code;
    const fs::perms permissions = fs::status(PathOf(path), code).permissions();
    if (code) {
        error = code.message();
        return false;
    }
    const std::string temporary = path + ".pack-" + std::to_string(ProcessNumber());
    const int handle = OpenNewFile(temporary.c_str());
    if (handle < 0) {
        error = std::string("cannot create ") + temporary + ": " + strerror(errno);
        return false;
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const size_t chunk = bytes.size() - written < 65536 ? bytes.size() - written : 65536;
        const int result = WriteSome(handle, bytes.data() + written, chunk);
        if (result <= 0) {
            break;
        }
        written += static_cast<size_t>(result);
    }
    const int writeErrno = errno;
    const bool closed = FlushAndClose(handle) != 0;
    if (written != bytes.size() || !closed) {
        error = std::string("cannot write ") + temporary + ": " +
                strerror(written != bytes.size() ? writeErrno : errno);
        fs::remove(PathOf(temporary), code);
        return false;
    }
    fs::permissions(PathOf(temporary), permissions, code);
    // rename replaces the target in one step (MoveFileEx with REPLACE_EXISTING on Windows).
    fs::rename(PathOf(temporary), PathOf(path), code);
    if (code) {
        error = "cannot replace the file: " + code.message();
        fs::remove(PathOf(temporary), code);
        return false;
    }
    return true;
}

bool IsDirectory(const std::string& path) {
    std::error_code code;
    return fs::is_directory(PathOf(path), code);
}

#ifdef _WIN32
// The C++ library here takes a link's status for its target's, so the
// attributes are read directly.
bool IsLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
#else
bool IsLink(const std::string& path) {
    std::error_code code;
    return fs::is_symlink(fs::symlink_status(PathOf(path), code));
}
#endif

bool IsPlainFile(const std::string& path) {
    return !IsLink(path) && IsRegularFile(path);
}

bool IsRegularFile(const std::string& path) {
    std::error_code code;
    return fs::is_regular_file(PathOf(path), code);
}

bool ListDirectory(const std::string& path, std::vector<std::string>& names) {
    std::error_code code;
    fs::directory_iterator entries(PathOf(path), code);
    if (code) {
        return false;
    }
    names.clear();
    for (const fs::directory_entry& entry : entries) {
        names.push_back(TextOf(entry.path().filename()));
    }
    return true;
}

static char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string FindNameIgnoringCase(const std::vector<std::string>& names, const std::string& wanted) {
    for (const std::string& name : names) {
        if (name.size() != wanted.size()) {
            continue;
        }
        size_t i = 0;
        while (i < name.size() && LowerAscii(name[i]) == LowerAscii(wanted[i])) {
            ++i;
        }
        if (i == name.size()) {
            return name;
        }
    }
    return "";
}

#ifdef _WIN32
static const char Separator = '\\';
static bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}
#else
static const char Separator = '/';
static bool IsSeparator(char c) {
    return c == '/';
}
#endif

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) {
        return name;
    }
    if (IsSeparator(directory.back())) {
        return directory + name;
    }
    return directory + Separator + name;
}

std::string ParentDirectory(const std::string& path) {
    const std::string parent = TextOf(PathOf(path).parent_path());
    return parent.empty() ? "." : parent;
}

#ifdef _WIN32
std::string ArchiveLister(const std::string& packageDirectory) {
    return JoinPath(packageDirectory, "unzip.exe");
}

static std::string Utf8(const wchar_t* wide, int length) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        (void)WideCharToMultiByte(CP_UTF8, 0, wide, length, &text[0], size, nullptr, nullptr);
    }
    return text;
}

// One argument as the C runtime's parser reads it back: in quotes, with the
// backslashes before a quote (and before the closing one) doubled.
static std::wstring QuotedArgument(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
        }
        if (c != L'\\') {
            quoted += c;
        }
    }
    return quoted.append(backslashes * 2, L'\\') + L"\"";
}

// An inheritable copy of one of this process's standard handles for the child.
static HANDLE InheritableCopy(DWORD which) {
    HANDLE copy = nullptr;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, GetStdHandle(which), self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

// A pipe whose end for the child is inheritable and whose end for this
// process is not.
static bool ChildPipe(HANDLE& read, HANDLE& write, bool childReads) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        return false;
    }
    (void)SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

static void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        (void)CloseHandle(handle);
    }
    handle = nullptr;
}

// Starts program directly, never through cmd.exe (which would expand %VAR%
// in paths), in directory; feeds input to its standard input when given,
// collects its standard output when asked. Returns its exit status, or -1.
static int RunProcess(const std::string& directory, const std::string& program,
                      const std::vector<std::string>& args, const std::string* input, std::string* output) {
    std::wstring line = QuotedArgument(Wide(program));
    for (const std::string& arg : args) {
        line += L" " + QuotedArgument(Wide(arg));
    }
    (void)fflush(stdout);
    (void)fflush(stderr);
    HANDLE childIn = nullptr;
    HANDLE feed = nullptr;
    HANDLE collect = nullptr;
    HANDLE childOut = nullptr;
    HANDLE childErr = InheritableCopy(STD_ERROR_HANDLE);
    bool ready = input != nullptr ? ChildPipe(childIn, feed, true)
                                  : (childIn = InheritableCopy(STD_INPUT_HANDLE), true);
    ready = ready && (output != nullptr ? ChildPipe(collect, childOut, false)
                                        : (childOut = InheritableCopy(STD_OUTPUT_HANDLE), true));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = childErr;
    PROCESS_INFORMATION process = {};
    const std::wstring place = Wide(directory);
    const bool started =
        ready && CreateProcessW(Wide(program).c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                place.empty() ? nullptr : place.c_str(), &startup, &process);
    CloseIfOpen(childIn);
    CloseIfOpen(childOut);
    CloseIfOpen(childErr);
    bool fed = true;
    if (started && input != nullptr) {
        size_t written = 0;
        while (written < input->size()) {
            DWORD chunk = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(input->size() - written, 65536));
            if (!WriteFile(feed, input->data() + written, want, &chunk, nullptr) || chunk == 0) {
                fed = false;
                break;
            }
            written += chunk;
        }
    }
    CloseIfOpen(feed);
    if (started && output != nullptr) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(collect, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            output->append(buffer, got);
        }
    }
    CloseIfOpen(collect);
    if (!started) {
        return -1;
    }
    DWORD status = 0;
    const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &status);
    (void)CloseHandle(process.hThread);
    (void)CloseHandle(process.hProcess);
    if (!ended) {
        return -1;
    }
    return !fed && status == 0 ? -1 : static_cast<int>(status);
}

// What the extractor printed, as UTF-8: UnZip prints names in the OEM code
// page, as a console shows them.
static std::string ListingText(const std::string& ansi) {
    if (ansi.empty()) {
        return ansi;
    }
    std::wstring wide(ansi.size(), L'\0');
    const int length = MultiByteToWideChar(CP_OEMCP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0],
                                           static_cast<int>(wide.size()));
    return Utf8(wide.data(), length > 0 ? length : 0);
}

static int RunListing(const std::string& lister, const char* mode, const std::string& archive,
                      std::string& listing) {
    std::string ansi;
    const int status = RunProcess("", lister, {mode, AnsiSpelling(archive)}, nullptr, &ansi);
    listing = ListingText(ansi);
    return status;
}

std::string ProgramDirectory() {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    return length > 0 && length < 32768 ? ParentDirectory(Utf8(path, static_cast<int>(length))) : "";
}

int RunWithInput(const std::string& directory, const std::string& program,
                 const std::vector<std::string>& args, const std::string& input) {
    return RunProcess(directory, program, args, &input, nullptr);
}
#else
std::string ArchiveLister(const std::string&) {
    return "unzip";
}

static std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The command line the shell runs, every word quoted. exec: a missing
// program ends the shell with 127, which is then reported.
static std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line = "exec " + ShellQuote(program);
    for (const std::string& arg : args) {
        line += " " + ShellQuote(arg);
    }
    return line;
}

static int ExitStatusOf(int status) {
    if (!WIFEXITED(status)) {
        return -1;
    }
    // 126 and 127: the shell could not run the program.
    const int code = WEXITSTATUS(status);
    return code == 126 || code == 127 ? -1 : code;
}

static int RunListing(const std::string& lister, const char* mode, const std::string& archive,
                      std::string& listing) {
    // The names as UTF-8, whatever this program's locale.
    // NOLINTNEXTLINE(cert-env33-c): every word of the command is quoted.
    FILE* pipe = popen(("LC_ALL=C.UTF-8 " + CommandLine(lister, {mode, archive})).c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        listing.append(buffer, got);
    }
    return ExitStatusOf(pclose(pipe));
}

std::string ProgramDirectory() {
    std::error_code code;
    const fs::path self = fs::read_symlink("/proc/self/exe", code);
    return code ? "" : TextOf(self.parent_path());
}

int RunWithInput(const std::string& directory, const std::string& program,
                 const std::vector<std::string>& args, const std::string& input) {
    // The child starts in directory: the shell changes there first.
    const std::string line = "cd " + ShellQuote(directory) + " && " + CommandLine(program, args);
    (void)fflush(stdout);
    // A child that ends before reading all of its input is an error
    // reported by its exit status, not a reason for this program to die.
    (void)signal(SIGPIPE, SIG_IGN);
    // NOLINTNEXTLINE(cert-env33-c): every word of the command is quoted.
    FILE* pipe = popen(line.c_str(), "w");
    if (pipe == nullptr) {
        return -1;
    }
    const size_t written = fwrite(input.data(), 1, input.size(), pipe);
    const int status = ExitStatusOf(pclose(pipe));
    return written != input.size() && status == 0 ? -1 : status;
}
#endif

int ListArchive(const std::string& packageDirectory, const std::string& archive,
                std::vector<std::string>& names) {
    // The report so far goes out before the extractor's own messages.
    (void)fflush(stdout);
    std::string listing;
    const int status = RunListing(ArchiveLister(packageDirectory), "-Z1", archive, listing);
    if (status < 0) {
        return -1;
    }
    names.clear();
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        end = end == std::string::npos ? listing.size() : end;
        std::string line = listing.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        names.push_back(line);
        start = end + 1;
    }
    // zipinfo reports an archive without entries on standard output.
    if (names.size() == 1 && names[0] == "Empty zipfile.") {
        names.clear();
    }
    return status;
}

int TestArchive(const std::string& packageDirectory, const std::string& archive, std::string& report) {
    // The report so far goes out before the extractor's own messages.
    (void)fflush(stdout);
    std::string printed;
    const int status = RunListing(ArchiveLister(packageDirectory), "-t", archive, printed);
    report.swap(printed);
    return status;
}
