// build: the installer folder zipped by Info-ZIP Zip, the kit's setup.exe
// and unzip.exe beside it, the tags stamped, all written aside, checked and
// then moved into place.
#include "tools/pack/build_package.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>

#include "tools/pack/commands.h"
#include "tools/pack/host_files.h"
#include "tools/pack/package_view.h"

namespace fs = std::filesystem;

static const char InstallerName[] = "SETUP.EXE";

static void Fail(const std::string& text) {
    (void)fprintf(stderr, "pack: %s\n", text.c_str());
}

// ---------------------------------------------------------------- the archive

// 1980-01-01 00:00, the earliest time a zip entry can carry.
static const uint16_t FixedDosTime = 0;
static const uint16_t FixedDosDate = (0 << 9) | (1 << 5) | 1;
static const uint32_t DosArchiveBit = 0x20;
static const uint8_t UnixHost = 3;

static uint32_t Get(const unsigned char* at, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;) {
        value = (value << 8) | at[i];
    }
    return value;
}

static void Set(unsigned char* at, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xff);
    }
}

// Positions past 2 GiB, where long has 32 bits (Windows, i686).
#ifdef _WIN32
static bool SeekTo(FILE* file, uint64_t offset) {
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}
static bool FileSize(FILE* file, uint64_t& size) {
    const long long end = _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
    size = static_cast<uint64_t>(end);
    return end >= 0;
}
#else
static bool SeekTo(FILE* file, uint64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}
static bool FileSize(FILE* file, uint64_t& size) {
    const off_t end = fseeko(file, 0, SEEK_END) == 0 ? ftello(file) : -1;
    size = static_cast<uint64_t>(end);
    return end >= 0;
}
#endif

// Reads or writes exactly size bytes at offset.
static bool ReadAt(FILE* file, uint64_t offset, unsigned char* bytes, size_t size) {
    return SeekTo(file, offset) && fread(bytes, 1, size, file) == size;
}
static bool WriteAt(FILE* file, uint64_t offset, const unsigned char* bytes, size_t size) {
    return SeekTo(file, offset) && fwrite(bytes, 1, size, file) == size;
}

// The attributes with only what the files say about themselves: Unix modes
// keep the owner's write bit alone (0644 or 0444), DOS attributes lose the
// archive bit, which tells about backups, not about the file.
static uint32_t NormalAttributes(uint8_t host, uint32_t attributes) {
    if (host == UnixHost) {
        const bool readOnly = ((attributes >> 16) & 0200) == 0;
        const uint32_t mode = readOnly ? 0100444 : 0100644;
        return (mode << 16) | (readOnly ? 1 : 0);
    }
    return attributes & ~DosArchiveBit;
}

static bool NormalizeOpenArchive(FILE* file, std::string& error) {
    // The end record: 22 bytes, then at most 65535 bytes of comment.
    uint64_t size = 0;
    if (!FileSize(file, size)) {
        error = "cannot seek";
        return false;
    }
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, 22 + 65535));
    std::string tail(tailSize, '\0');
    auto* tailBytes = reinterpret_cast<unsigned char*>(&tail[0]);
    if (size < 22 || !ReadAt(file, size - tailSize, tailBytes, tailSize)) {
        error = "too short for a zip archive";
        return false;
    }
    size_t end = tailSize - 22 + 1;
    while (end-- > 0 && Get(tailBytes + end, 4) != 0x06054b50) {
    }
    if (end == static_cast<size_t>(-1)) {
        error = "no end of central directory record";
        return false;
    }
    const uint32_t entries = Get(tailBytes + end + 10, 2);
    const uint32_t directorySize = Get(tailBytes + end + 12, 4);
    const uint32_t directoryOffset = Get(tailBytes + end + 16, 4);
    if (entries == 0xffff || directorySize == 0xffffffff || directoryOffset == 0xffffffff) {
        error = "the archive needs Zip64 records (over 65535 entries or 4 GiB)";
        return false;
    }
    if (static_cast<uint64_t>(directoryOffset) + directorySize > size) {
        error = "the central directory lies beyond the end of the file";
        return false;
    }
    std::string directory(directorySize, '\0');
    auto* dir = reinterpret_cast<unsigned char*>(&directory[0]);
    if (!ReadAt(file, directoryOffset, dir, directorySize)) {
        error = "cannot read the central directory";
        return false;
    }
    size_t at = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        if (directorySize - at < 46 || Get(dir + at, 4) != 0x02014b50) {
            error = "a damaged central directory entry";
            return false;
        }
        const uint32_t localOffset = Get(dir + at + 42, 4);
        if (localOffset == 0xffffffff) {
            error = "the archive needs Zip64 records (over 4 GiB)";
            return false;
        }
        Set(dir + at + 12, FixedDosTime, 2);
        Set(dir + at + 14, FixedDosDate, 2);
        Set(dir + at + 38, NormalAttributes(dir[at + 5], Get(dir + at + 38, 4)), 4);
        unsigned char stamp[4];
        Set(stamp, FixedDosTime, 2);
        Set(stamp + 2, FixedDosDate, 2);
        unsigned char signature[4];
        if (!ReadAt(file, localOffset, signature, 4) || Get(signature, 4) != 0x04034b50 ||
            !WriteAt(file, localOffset + 10, stamp, 4)) {
            error = "a damaged local header";
            return false;
        }
        at += 46 + Get(dir + at + 28, 2) + Get(dir + at + 30, 2) + Get(dir + at + 32, 2);
    }
    if (!WriteAt(file, directoryOffset, dir, directorySize)) {
        error = "cannot write the central directory";
        return false;
    }
    return true;
}

bool NormalizeArchive(const std::string& archive, std::string& error) {
    FILE* file = fopen(archive.c_str(), "r+b");
    if (file == nullptr) {
        error = strerror(errno);
        return false;
    }
    const bool done = NormalizeOpenArchive(file, error);
    if (fclose(file) != 0 && done) {
        error = "cannot write the file";
        return false;
    }
    return done;
}

// ---------------------------------------------------------------- the input

// The installer folder's files, as archive paths with '/', in byte order.
struct InstallerFiles {
    std::vector<std::string> Paths;
    std::vector<std::string> EmptyDirectories;
};

static bool ListInstallerFiles(const std::string& root, InstallerFiles& files) {
    std::error_code code;
    fs::recursive_directory_iterator walk(root, code);
    std::vector<std::string> unreadable;
    std::vector<std::string> tooLong;
    for (; !code && walk != fs::recursive_directory_iterator(); walk.increment(code)) {
        const fs::directory_entry& entry = *walk;
        const std::string path = fs::relative(entry.path(), root, code).generic_string();
        if (code) {
            break;
        }
        std::error_code kind;
        if (entry.is_directory(kind)) {
            if (fs::is_empty(entry.path(), kind)) {
                files.EmptyDirectories.push_back(path);
            }
            continue;
        }
        if (!entry.is_regular_file(kind)) {
            unreadable.push_back(path + ": not a regular file");
            continue;
        }
        // zip reads the names one a line.
        if (path.find_first_of("\r\n") != std::string::npos) {
            unreadable.push_back(path + ": a line break in the name");
            continue;
        }
        FILE* probe = fopen(entry.path().string().c_str(), "rb");
        if (probe == nullptr) {
            unreadable.push_back(path + ": " + strerror(errno));
            continue;
        }
        (void)fclose(probe);  // only opened to see that it can be read
        if (TooLongForWorkingDirectory(path)) {
            tooLong.push_back(path);
        }
        files.Paths.push_back(path);
    }
    if (code) {
        Fail("refused, nothing written: cannot read the installer folder " + root + ": " + code.message());
        return false;
    }
    for (const std::string& problem : unreadable) {
        Fail("refused, nothing written: cannot read " + JoinPath(root, problem));
    }
    for (const std::string& path : tooLong) {
        Fail("refused, nothing written: " + path + " (" + std::to_string(path.size()) +
             " characters) would pass MAX_PATH (260) when extracted under " + TypicalWorkingDirectory);
    }
    std::sort(files.Paths.begin(), files.Paths.end());
    std::sort(files.EmptyDirectories.begin(), files.EmptyDirectories.end());
    return unreadable.empty() && tooLong.empty();
}

// ---------------------------------------------------------------- the steps

static std::string Absolute(const std::string& path) {
    std::error_code code;
    const fs::path absolute = fs::absolute(path, code);
    return code ? path : absolute.lexically_normal().string();
}

// true when inner is outer or lies below it.
static bool IsWithin(const std::string& inner, const std::string& outer) {
    std::error_code code;
    const fs::path a = fs::weakly_canonical(inner, code);
    const fs::path b = fs::weakly_canonical(outer, code);
    const auto mismatch = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return !code && mismatch.first == b.end();
}

// A new directory beside path, named after it: path.SUFFIX-N, the first N
// free (creating a directory is the test, so two runs never share one).
static std::string NewDirectoryBeside(const std::string& path, const char* suffix) {
    std::string base = path;
    while (base.size() > 1 && (base.back() == '/' || base.back() == '\\')) {
        base.pop_back();
    }
    for (int n = 1; n <= 1000; ++n) {
        std::string name = base + "." + suffix + "-" + std::to_string(n);
        std::error_code code;
        if (fs::create_directory(name, code) && !code) {
            return name;
        }
    }
    return "";
}

// The program that writes package.zip: Info-ZIP Zip, the system's on Linux,
// the kit's zip.exe on Windows.
static std::string ArchiveWriter(const std::string& kit) {
#ifdef _WIN32
    return JoinPath(kit, "zip.exe");
#else
    (void)kit;
    return "zip";
#endif
}

static bool WritePackageArchive(const std::string& installer, const InstallerFiles& files,
                                const std::string& archive, const std::string& kit) {
    std::string names;
    for (const std::string& path : files.Paths) {
        names += path + "\n";
    }
    // Options from the environment would change the archive.
#ifdef _WIN32
    (void)_putenv("ZIP=");
    (void)_putenv("ZIPOPT=");
#else
    (void)unsetenv("ZIP");
    (void)unsetenv("ZIPOPT");
#endif
    // -X: no extra fields (owners, exact times); -D: no directory entries;
    // -nw: names as they are, no wildcards; -@: the names from standard input.
    const std::string writer = ArchiveWriter(kit);
    const int status =
        RunWithInput(installer, writer, {"-q", "-X", "-D", "-nw", Absolute(archive), "-@"}, names);
    if (status != 0) {
        Fail(status < 0
                 ? "cannot run " + writer + " to write package.zip"
                 : writer + " failed writing package.zip (exit status " + std::to_string(status) + ")");
        return false;
    }
    std::string error;
    if (!NormalizeArchive(archive, error)) {
        Fail("cannot finish package.zip: " + error);
        return false;
    }
    return true;
}

static bool CopyInto(const std::string& from, const std::string& directory, const std::string& name) {
    std::error_code code;
    fs::copy_file(from, JoinPath(directory, name), code);
    if (code) {
        Fail("cannot copy " + from + " into the package: " + code.message());
        return false;
    }
    return true;
}

static bool CreateEmptyFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        Fail("cannot create " + path + ": " + strerror(errno));
        return false;
    }
    return fclose(file) == 0;
}

static bool WriteTags(const BuildRequest& request, const std::string& aside) {
    if (request.TagsAsFiles) {
        for (const std::string& tag : request.Tags) {
            if (!CreateEmptyFile(JoinPath(aside, tag))) {
                return false;
            }
        }
    } else if (StampTags(JoinPath(aside, "setup.exe"), request.Tags,
                         JoinPath(request.OutputDirectory, "setup.exe")) != 0) {
        return false;
    }
    return !request.Msi || CreateEmptyFile(JoinPath(aside, MsiTag));
}

// Moves the finished package to its place, replacing an empty directory or,
// when forced, one with files in it.
static bool MoveIntoPlace(const std::string& aside, const std::string& out) {
    std::error_code code;
    std::string old;
    if (fs::exists(out, code)) {
        if (fs::is_empty(out, code)) {
            fs::remove(out, code);
        } else {
            old = NewDirectoryBeside(out, "old");
            fs::remove(old, code);
            fs::rename(out, old, code);
        }
        if (code) {
            Fail("cannot replace " + out + ": " + code.message());
            return false;
        }
    }
    fs::rename(aside, out, code);
    if (code) {
        Fail("cannot move the package to " + out + ": " + code.message());
        if (!old.empty()) {
            std::error_code ignored;
            fs::rename(old, out, ignored);
        }
        return false;
    }
    if (!old.empty()) {
        fs::remove_all(old, code);
    }
    return true;
}

// What is refused before anything is written.
static bool AcceptRequest(const BuildRequest& request, std::string& installer) {
    if (!CheckTagNames(request.Tags)) {
        return false;
    }
    const bool anyVersionTag = std::any_of(request.Tags.begin(), request.Tags.end(),
                                           [](const std::string& tag) { return tag != MsiTag; });
    if (!anyVersionTag) {
        Fail("refused, nothing written: no version tag given: setup.exe would refuse every Windows version");
        return false;
    }
    std::vector<std::string> names;
    if (!IsDirectory(request.InstallerDirectory) || !ListDirectory(request.InstallerDirectory, names)) {
        Fail("refused, nothing written: cannot read the installer folder " + request.InstallerDirectory);
        return false;
    }
    installer = FindNameIgnoringCase(names, InstallerName);
    if (installer.empty() || !IsRegularFile(JoinPath(request.InstallerDirectory, installer))) {
        Fail("refused, nothing written: no SETUP.EXE at the root of " + request.InstallerDirectory +
             ": setup.exe runs it from there");
        return false;
    }
    const std::string& out = request.OutputDirectory;
    std::error_code code;
    if (fs::exists(out, code)) {
        if (!IsDirectory(out)) {
            Fail("refused, nothing written: " + out + " exists and is not a directory");
            return false;
        }
        if (!fs::is_empty(out, code) && !request.Force) {
            Fail("refused, nothing written: " + out + " exists and is not empty (--force replaces it)");
            return false;
        }
    }
    if (IsWithin(out, request.InstallerDirectory)) {
        Fail("refused, nothing written: " + out + " lies inside the installer folder, which is packed whole");
        return false;
    }
    return true;
}

int BuildPackage(const BuildRequest& request) {
    std::string installer;
    if (!AcceptRequest(request, installer)) {
        return 1;
    }
    const std::string kit = request.Kit.empty() ? ProgramDirectory() : request.Kit;
    const std::string setup = request.Setup.empty() ? JoinPath(kit, "setup.exe") : request.Setup;
    const std::string unzip = request.Unzip.empty() ? JoinPath(kit, "unzip.exe") : request.Unzip;
    for (const std::string& program : {setup, unzip}) {
        if (!IsRegularFile(program)) {
            Fail("refused, nothing written: no " + program +
                 " (give the kit folder with --kit, or the file with --setup or --unzip)");
            return 1;
        }
    }
    InstallerFiles files;
    if (!ListInstallerFiles(request.InstallerDirectory, files)) {
        return 1;
    }
    for (const std::string& empty : files.EmptyDirectories) {
        (void)fprintf(stderr,
                      "pack: warning: empty directory %s is not packed (the archive holds files only)\n",
                      empty.c_str());
    }

    const std::string aside = NewDirectoryBeside(request.OutputDirectory, "tmp");
    if (aside.empty()) {
        Fail("cannot create a directory beside " + request.OutputDirectory);
        return 1;
    }
    const bool built =
        CopyInto(setup, aside, "setup.exe") && CopyInto(unzip, aside, "unzip.exe") &&
        WriteTags(request, aside) &&
        WritePackageArchive(request.InstallerDirectory, files, JoinPath(aside, "package.zip"), kit);
    const bool checked = built && CheckPackage(aside, request.OutputDirectory) == 0;
    if (!checked || !MoveIntoPlace(aside, request.OutputDirectory)) {
        std::error_code code;
        fs::remove_all(aside, code);
        Fail("no package written" + std::string(built && !checked ? ": the check found errors" : ""));
        return 1;
    }
    printf("built %s: package.zip (%zu files, %s at the root), setup.exe, unzip.exe\n",
           request.OutputDirectory.c_str(), files.Paths.size(), installer.c_str());
    return 0;
}
