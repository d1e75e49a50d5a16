// Files, directories and the archive lister for the packaging tool.
#include "tools/pack/host_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>
#include <stdlib.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    if (IsDirectory(path)) {
        error = "is a directory";
        return false;
    }
    FILE* file = fopen(path.c_str(), "rb");
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
    return _open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
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

bool ReplaceFile(const std::string& path, const std::string& bytes, std::string& error) {
    std::error_code code;
    const fs::perms permissions = fs::status(path, code).permissions();
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
        fs::remove(temporary, code);
        return false;
    }
    fs::permissions(temporary, permissions, code);
    // rename replaces the target in one step (MoveFileEx with REPLACE_EXISTING on Windows).
    fs::rename(temporary, path, code);
    if (code) {
        error = "cannot replace the file: " + code.message();
        fs::remove(temporary, code);
        return false;
    }
    return true;
}

bool IsDirectory(const std::string& path) {
    std::error_code code;
    return fs::is_directory(path, code);
}

bool IsRegularFile(const std::string& path) {
    std::error_code code;
    return fs::is_regular_file(path, code);
}

bool ListDirectory(const std::string& path, std::vector<std::string>& names) {
    std::error_code code;
    fs::directory_iterator entries(path, code);
    if (code) {
        return false;
    }
    names.clear();
    for (const fs::directory_entry& entry : entries) {
        names.push_back(entry.path().filename().string());
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
    const std::string parent = fs::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

#ifdef _WIN32
std::string ArchiveLister(const std::string& packageDirectory) {
    return JoinPath(packageDirectory, "unzip.exe");
}

// The command line cmd.exe runs: every word quoted, and an outer pair of
// quotes, since cmd.exe drops the first and the last quote of the line.
static std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line = "\"\"" + program + "\"";
    for (const std::string& arg : args) {
        line += " \"" + arg + "\"";
    }
    return line + "\"";
}
#define OpenPipe _popen
#define ClosePipe _pclose
static int ExitStatusOf(int status) {
    return status;
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
#define OpenPipe popen
#define ClosePipe pclose
static int ExitStatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

int ListArchive(const std::string& packageDirectory, const std::string& archive,
                std::vector<std::string>& names) {
    // The report so far goes out before the extractor's own messages.
    (void)fflush(stdout);
    // NOLINTNEXTLINE(cert-env33-c): every word of the command is quoted.
    FILE* pipe = OpenPipe(CommandLine(ArchiveLister(packageDirectory), {"-Z1", archive}).c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    names.clear();
    std::string line;
    int c = 0;
    while ((c = fgetc(pipe)) != EOF) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            names.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty()) {
        names.push_back(line);
    }
    const int status = ExitStatusOf(ClosePipe(pipe));
#ifndef _WIN32
    if (status == 126 || status == 127) {
        return -1;
    }
#endif
    // zipinfo reports an archive without entries on standard output.
    if (names.size() == 1 && names[0] == "Empty zipfile.") {
        names.clear();
    }
    return status;
}

#ifdef _WIN32
std::string ProgramDirectory() {
    // The C runtime's full path of the executable.
    const char* path = _pgmptr;
    return path != nullptr && path[0] != '\0' ? ParentDirectory(path) : "";
}
static int ChangeDirectory(const char* path) {
    return _chdir(path);
}
#else
std::string ProgramDirectory() {
    std::error_code code;
    const fs::path self = fs::read_symlink("/proc/self/exe", code);
    return code ? "" : self.parent_path().string();
}
static int ChangeDirectory(const char* path) {
    return chdir(path);
}
#endif

int RunWithInput(const std::string& directory, const std::string& program,
                 const std::vector<std::string>& args, const std::string& input) {
    std::error_code code;
    const std::string before = fs::current_path(code).string();
    if (code || ChangeDirectory(directory.c_str()) != 0) {
        return -1;
    }
    (void)fflush(stdout);
#ifndef _WIN32
    // A child that ends before reading all of its input is an error
    // reported by its exit status, not a reason for this program to die.
    (void)signal(SIGPIPE, SIG_IGN);
#endif
    // NOLINTNEXTLINE(cert-env33-c): every word of the command is quoted.
    FILE* pipe = OpenPipe(CommandLine(program, args).c_str(), "w");
    int status = -1;
    if (pipe != nullptr) {
        const size_t written = fwrite(input.data(), 1, input.size(), pipe);
        status = ExitStatusOf(ClosePipe(pipe));
#ifndef _WIN32
        if (status == 126 || status == 127) {
            status = -1;
        }
#endif
        if (written != input.size() && status == 0) {
            status = -1;
        }
    }
    // Back where it was: the caller's paths may be relative.
    if (ChangeDirectory(before.c_str()) != 0) {
        return -1;
    }
    return status;
}
