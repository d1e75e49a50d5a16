// Files and directories for the packaging tool, by their UTF-8 names.
#include "tools/pack/host/files.h"

#include "tools/pack/names/file_names.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <stdlib.h>
#include <windows.h>
#else
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
std::wstring Wide(const std::string& utf8) {
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
    // O_EXCL: never through an existing name, nor a link planted there.
    return open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
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

bool WriteNewFile(const std::string& path, const std::string& bytes, std::string& error) {
    const int handle = OpenNewFile(path.c_str());
    if (handle < 0) {
        error = std::string("cannot create ") + path + ": " + strerror(errno);
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
        error = std::string("cannot write ") + path + ": " +
                strerror(written != bytes.size() ? writeErrno : errno);
        std::error_code code;
        fs::remove(PathOf(path), code);
        return false;
    }
    return true;
}

std::string NewDirectoryBeside(const std::string& path, const char* suffix) {
    for (int n = 1; n <= 1000; ++n) {
        std::string name = path + "." + suffix + "-" + std::to_string(n);
        std::error_code code;
        if (fs::create_directory(PathOf(name), code) && !code) {
            fs::permissions(PathOf(name), fs::perms::owner_all, code);
            return name;
        }
    }
    return "";
}

bool ReplaceFileContents(const std::string& path, const std::string& bytes, std::string& error) {
    std::error_code code;
    const fs::perms permissions = fs::status(PathOf(path), code).permissions();
    if (code) {
        error = code.message();
        return false;
    }
    const std::string temporary = path + ".pack-" + std::to_string(ProcessNumber());
    if (!WriteNewFile(temporary, bytes, error)) {
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
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    // The reparse tag tells a link from a deduplicated or cloud file.
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Wide(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return true;  // unread: taken for the link it may be
    }
    (void)FindClose(search);
    return ReparseTagIsLink(found.dwReserved0);
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
std::string Utf8(const wchar_t* wide, int length) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        (void)WideCharToMultiByte(CP_UTF8, 0, wide, length, &text[0], size, nullptr, nullptr);
    }
    return text;
}

std::string ProgramDirectory() {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    return length > 0 && length < 32768 ? ParentDirectory(Utf8(path, static_cast<int>(length))) : "";
}
#else
std::string ProgramDirectory() {
    std::error_code code;
    const fs::path self = fs::read_symlink("/proc/self/exe", code);
    return code ? "" : TextOf(self.parent_path());
}
#endif

// Positions past 2 GiB, where long has 32 bits (Windows, i686).
#ifdef _WIN32
bool SeekTo(FILE* file, uint64_t offset) {
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}
bool FileSize(FILE* file, uint64_t& size) {
    const long long end = _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
    size = static_cast<uint64_t>(end);
    return end >= 0;
}
#else
bool SeekTo(FILE* file, uint64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}
bool FileSize(FILE* file, uint64_t& size) {
    const off_t end = fseeko(file, 0, SEEK_END) == 0 ? ftello(file) : -1;
    size = static_cast<uint64_t>(end);
    return end >= 0;
}
#endif

// Reads or writes exactly size bytes at offset.
bool ReadAt(FILE* file, uint64_t offset, unsigned char* bytes, size_t size) {
    return SeekTo(file, offset) && fread(bytes, 1, size, file) == size;
}
bool WriteAt(FILE* file, uint64_t offset, const unsigned char* bytes, size_t size) {
    return SeekTo(file, offset) && fwrite(bytes, 1, size, file) == size;
}
