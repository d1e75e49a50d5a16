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
#include <map>

#include "tools/pack/commands.h"
#include "tools/pack/file_names.h"
#include "tools/pack/host_files.h"
#include "tools/pack/package_view.h"
#include "tools/pack/zip_directory.h"

namespace fs = std::filesystem;

static const char InstallerName[] = "SETUP.EXE";

static void Fail(const std::string& text) {
    (void)fprintf(stderr, "pack: %s\n", text.c_str());
}

// ---------------------------------------------------------------- the archive

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

// The central directory and the end record that describes it.
struct ArchiveDirectory {
    std::string Bytes;
    uint32_t Entries = 0;
    uint32_t Offset = 0;
    std::string End;  // the end record and its comment
};

static bool ReadDirectory(FILE* file, ArchiveDirectory& directory, std::string& error) {
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
    while (end-- > 0 && GetField(tailBytes + end, 4) != 0x06054b50) {
    }
    if (end == static_cast<size_t>(-1)) {
        error = "no end of central directory record";
        return false;
    }
    const uint32_t entries = GetField(tailBytes + end + 10, 2);
    const uint32_t directorySize = GetField(tailBytes + end + 12, 4);
    const uint32_t directoryOffset = GetField(tailBytes + end + 16, 4);
    directory.Entries = entries;
    directory.Offset = directoryOffset;
    directory.End = tail.substr(end);
    if (entries == 0xffff || directorySize == 0xffffffff || directoryOffset == 0xffffffff) {
        error = "the archive needs Zip64 records (over 65535 entries or 4 GiB)";
        return false;
    }
    if (static_cast<uint64_t>(directoryOffset) + directorySize > size) {
        error = "the central directory lies beyond the end of the file";
        return false;
    }
    directory.Bytes.assign(directorySize, '\0');
    if (!ReadAt(file, directoryOffset, reinterpret_cast<unsigned char*>(&directory.Bytes[0]),
                directorySize)) {
        error = "cannot read the central directory";
        return false;
    }
    return true;
}

// Copies size bytes from one file's position to the other's.
static bool CopyBytes(FILE* from, FILE* to, uint64_t size) {
    char buffer[65536];
    while (size > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(size, sizeof buffer));
        if (fread(buffer, 1, chunk, from) != chunk || fwrite(buffer, 1, chunk, to) != chunk) {
            return false;
        }
        size -= chunk;
    }
    return true;
}

// Writes the entries to out again, each with its name in UTF-8 and no
// extra fields, then the central directory and the end record to match.
static bool WriteWithoutExtraFields(FILE* file, FILE* out, const ArchiveDirectory& directory,
                                    const std::vector<ZipEntry>& entries, std::string& error) {
    std::string central;
    uint64_t written = 0;
    for (const ZipEntry& entry : entries) {
        // A header that does not lie before the directory leaves its data
        // there, refused below.
        unsigned char local[30];
        if (!ReadAt(file, entry.LocalOffset, local, sizeof local) || GetField(local, 4) != 0x04034b50 ||
            (GetField(local + 6, 2) & 0x8) != 0) {
            error = "a damaged local header";
            return false;
        }
        const uint64_t data =
            entry.LocalOffset + sizeof local + GetField(local + 26, 2) + GetField(local + 28, 2);
        if (data + entry.CompressedSize > directory.Offset || written > 0xfffffffe) {
            error = "an entry runs past its place";
            return false;
        }
        std::string header = entry.Header + entry.Name;
        auto* fields = reinterpret_cast<unsigned char*>(&header[0]);
        SetField(fields + 28, static_cast<uint32_t>(entry.Name.size()), 2);
        SetField(fields + 30, 0, 2);
        SetField(fields + 42, static_cast<uint32_t>(written), 4);
        central += header + entry.Comment;
        SetField(local + 26, static_cast<uint32_t>(entry.Name.size()), 2);
        SetField(local + 28, 0, 2);
        if (fwrite(local, 1, sizeof local, out) != sizeof local ||
            fwrite(entry.Name.data(), 1, entry.Name.size(), out) != entry.Name.size() ||
            !SeekTo(file, data) || !CopyBytes(file, out, entry.CompressedSize)) {
            error = "cannot copy an entry";
            return false;
        }
        written += sizeof local + entry.Name.size() + entry.CompressedSize;
    }
    std::string end = directory.End;
    auto* fields = reinterpret_cast<unsigned char*>(&end[0]);
    SetField(fields + 16, static_cast<uint32_t>(written), 4);
    SetField(fields + 12, static_cast<uint32_t>(central.size()), 4);
    const std::string rest = central + end;
    error = "cannot write the central directory";
    return written + rest.size() <= 0xffffffff && fwrite(rest.data(), 1, rest.size(), out) == rest.size();
}

// Reads the central directory and splits it into its entries.
static bool ReadEntries(FILE* file, ArchiveDirectory& directory, std::vector<ZipEntry>& entries,
                        std::string& error) {
    return ReadDirectory(file, directory, error) &&
           SplitCentralDirectory(reinterpret_cast<const unsigned char*>(directory.Bytes.data()),
                                 directory.Bytes.size(), directory.Entries, entries, error);
}

static bool HasExtraFields(const std::vector<ZipEntry>& entries) {
    return std::any_of(entries.begin(), entries.end(), [](const ZipEntry& entry) {
        return GetField(reinterpret_cast<const unsigned char*>(entry.Header.data()) + 30, 2) != 0;
    });
}

// Writes the archive anew as copy; on failure the copy may be left (pack
// build removes the whole package directory then).
static bool WriteCopyWithoutExtraFields(FILE* file, const std::string& copy,
                                        const ArchiveDirectory& directory,
                                        const std::vector<ZipEntry>& entries, std::string& error) {
    FILE* out = OpenFile(copy, "wb");
    if (out == nullptr) {
        error = "cannot create " + copy + ": " + strerror(errno);
        return false;
    }
    const bool written = WriteWithoutExtraFields(file, out, directory, entries, error);
    if (fclose(out) != 0 && written) {
        error = "cannot write " + copy;
        return false;
    }
    return written;
}

bool ReadArchiveNames(const std::string& archive, std::vector<std::string>& names, std::string& error) {
    FILE* file = OpenFile(archive, "rb");
    if (file == nullptr) {
        error = strerror(errno);
        return false;
    }
    ArchiveDirectory directory;
    std::vector<ZipEntry> entries;
    const bool read = ReadEntries(file, directory, entries, error);
    (void)fclose(file);  // read only
    std::vector<std::string> found(entries.size());
    std::transform(entries.begin(), entries.end(), found.begin(),
                   [](const ZipEntry& entry) { return entry.Name; });
    names.swap(found);
    return read;
}

static bool NormalizeOpenArchive(FILE* file, ArchiveDirectory& directory, std::string& error) {
    const uint32_t directoryOffset = directory.Offset;
    const uint32_t directorySize = static_cast<uint32_t>(directory.Bytes.size());
    auto* dir = reinterpret_cast<unsigned char*>(&directory.Bytes[0]);
    std::vector<LocalHeader> localHeaders;
    if (!NormalizeCentralDirectory(dir, directorySize, directory.Entries, localHeaders, error)) {
        return false;
    }
    for (const LocalHeader& local : localHeaders) {
        // A local header (30 bytes) lies wholly before the directory.
        unsigned char header[30];
        if (local.Offset > directoryOffset || directoryOffset - local.Offset < sizeof header ||
            !ReadAt(file, local.Offset, header, sizeof header) || GetField(header, 4) != 0x04034b50) {
            error = "a damaged local header";
            return false;
        }
        const uint32_t flags = GetField(header + 6, 2);
        SetField(header + 6, local.Utf8 ? flags | Utf8NameFlag : flags, 2);
        SetField(header + 10, FixedDosTime, 2);
        SetField(header + 12, FixedDosDate, 2);
        if (!WriteAt(file, local.Offset, header, sizeof header)) {
            error = "cannot write a local header";
            return false;
        }
    }
    if (!WriteAt(file, directoryOffset, dir, directorySize)) {
        error = "cannot write the central directory";
        return false;
    }
    return true;
}

bool NormalizeArchive(const std::string& archive, std::string& error) {
    FILE* file = OpenFile(archive, "r+b");
    if (file == nullptr) {
        error = strerror(errno);
        return false;
    }
    ArchiveDirectory directory;
    std::vector<ZipEntry> entries;
    bool done = ReadEntries(file, directory, entries, error);
    // zip.exe stores a name outside ASCII in the OEM code page with its
    // UTF-8 form in an extra field (0x7075), which zip on Linux never
    // writes. Such an archive is written anew with the UTF-8 names and no
    // extra fields, so both give the same bytes, and then read again.
    if (done && HasExtraFields(entries)) {
        const std::string copy = archive + ".utf8";
        done = WriteCopyWithoutExtraFields(file, copy, directory, entries, error);
        (void)fclose(file);  // not written to
        file = nullptr;
        std::error_code code;
        if (done) {
            fs::rename(PathOf(copy), PathOf(archive), code);
            error = code ? "cannot replace it: " + code.message() : error;
        }
        file = done && !code ? OpenFile(archive, "r+b") : nullptr;
        done = file != nullptr && ReadEntries(file, directory, entries, error);
    }
    done = done && NormalizeOpenArchive(file, directory, error);
    if (file != nullptr && fclose(file) != 0 && done) {
        error = "cannot write the file";
        return false;
    }
    return done;
}

// ---------------------------------------------------------------- the input

// The installer folder's files, as archive paths with '/' in the byte order
// of their UTF-8 names, each spelled as zip.exe reads it (in the ANSI code
// page; on Linux as it is).
struct InstallerFiles {
    std::vector<std::string> AnsiPaths;
    std::vector<std::string> EmptyDirectories;
};

// Refusals of one name in the folder, and its place among the names that
// Windows would take for the same.
static void CheckName(const std::string& path, std::map<std::string, std::string>& folded,
                      std::vector<std::string>& refused) {
    const std::string component = path.substr(path.rfind('/') + 1);
    const std::string problem = WindowsNameProblem(component);
    if (!problem.empty()) {
        refused.push_back(path + ": " + problem);
        return;
    }
    const auto seen = folded.emplace(FoldCase(path), path);
    if (!seen.second) {
        refused.push_back(path + ": the same name as " + seen.first->second +
                          " on Windows, which does not tell case apart");
    }
}

static bool ListInstallerFiles(const std::string& root, InstallerFiles& files) {
    std::error_code code;
    const fs::path rootPath = PathOf(root);
    fs::recursive_directory_iterator walk(rootPath, code);
    std::vector<std::string> refused;
    std::vector<std::string> tooLong;
    std::map<std::string, std::string> folded;
    std::vector<std::pair<std::string, std::string>> found;  // each path and its ANSI spelling
    for (; !code && walk != fs::recursive_directory_iterator(); walk.increment(code)) {
        const fs::directory_entry& entry = *walk;
        const std::string path = GenericTextOf(entry.path().lexically_relative(rootPath));
        std::error_code kind;
        const fs::file_status status = entry.symlink_status(kind);
        CheckName(path, folded, refused);
        if (IsLink(TextOf(entry.path()))) {
            // Never entered: a junction to a profile would pack the profile.
            walk.disable_recursion_pending();
            refused.push_back(path + ": a symbolic link (copy the file it points to into the folder)");
            continue;
        }
        if (fs::is_directory(status)) {
            if (fs::is_empty(entry.path(), kind)) {
                files.EmptyDirectories.push_back(path);
            }
            continue;
        }
        if (!fs::is_regular_file(status)) {
            refused.push_back(path + ": not a regular file");
            continue;
        }
        if (!IsAscii(path) && CodePagesSpelling(path).empty()) {
            refused.push_back(path + ": " + NoCodePageSpells);
            continue;
        }
        // zip.exe reads the names, and its arguments, in the ANSI code page.
        const std::string ansi = ExactAnsiSpelling(path);
        if (ansi.empty()) {
            refused.push_back(path +
                              ": this system's ANSI code page does not spell the name, so zip.exe cannot "
                              "read it (build the package on Linux, or on Windows with a code page that "
                              "spells it)");
            continue;
        }
        FILE* probe = OpenFile(TextOf(entry.path()), "rb");
        if (probe == nullptr) {
            refused.push_back(path + ": cannot read it: " + strerror(errno));
            continue;
        }
        (void)fclose(probe);  // only opened to see that it can be read
        if (TooLongForWorkingDirectory(path)) {
            tooLong.push_back(path);
        }
        found.emplace_back(path, ansi);
    }
    if (code) {
        Fail("refused, nothing written: cannot read the installer folder " + root + ": " + code.message());
        return false;
    }
    for (const std::string& problem : refused) {
        Fail("refused, nothing written: " + JoinPath(root, problem));
    }
    for (const std::string& path : tooLong) {
        Fail("refused, nothing written: " + path + " (" + std::to_string(path.size()) +
             " characters) would pass MAX_PATH (260) when extracted under " + TypicalWorkingDirectory);
    }
    // The names' byte order in UTF-8, the ANSI spellings alongside.
    std::sort(found.begin(), found.end());
    for (const auto& name : found) {
        files.AnsiPaths.push_back(name.second);
    }
    std::sort(files.EmptyDirectories.begin(), files.EmptyDirectories.end());
    return refused.empty() && tooLong.empty();
}

// ---------------------------------------------------------------- the steps

static std::string Absolute(const std::string& path) {
    std::error_code code;
    const fs::path absolute = fs::absolute(PathOf(path), code);
    return code ? path : TextOf(absolute.lexically_normal());
}

// true when inner is outer or lies below it.
static bool IsWithin(const std::string& inner, const std::string& outer) {
    std::error_code code;
    const fs::path a = fs::weakly_canonical(PathOf(inner), code);
    const fs::path b = fs::weakly_canonical(PathOf(outer), code);
    // Windows compares names ignoring case.
    const auto same = [](const fs::path& x, const fs::path& y) {
#ifdef _WIN32
        return FoldCase(TextOf(x)) == FoldCase(TextOf(y));
#else
        return x == y;
#endif
    };
    const auto mismatch = std::mismatch(b.begin(), b.end(), a.begin(), a.end(), same);
    return !code && mismatch.first == b.end();
}

static std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
        path.pop_back();
    }
    return path;
}

// A new directory beside path, named after it: path.SUFFIX-N, the first N
// free (creating a directory is the test, so two runs never share one).
static std::string NewDirectoryBeside(const std::string& path, const char* suffix) {
    const std::string base = WithoutTrailingSeparators(path);
    for (int n = 1; n <= 1000; ++n) {
        std::string name = base + "." + suffix + "-" + std::to_string(n);
        std::error_code code;
        if (fs::create_directory(PathOf(name), code) && !code) {
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
    for (const std::string& spelled : files.AnsiPaths) {
        names += spelled + "\n";
    }
    const std::string archivePath = AnsiSpelling(Absolute(JoinPath(ParentDirectory(archive), "")));
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
    std::vector<std::string> options = {"-q", "-X", "-D", "-nw"};
    options.insert(options.end(), {JoinPath(archivePath, "package.zip"), "-@"});
    const int status = RunWithInput(installer, writer, options, names);
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
    fs::copy_file(PathOf(from), PathOf(JoinPath(directory, name)), code);
    if (code) {
        Fail("cannot copy " + from + " into the package: " + code.message());
        return false;
    }
    return true;
}

static bool CreateEmptyFile(const std::string& path) {
    FILE* file = OpenFile(path, "wb");
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

// Signs one of the package's executables, before its tags are stamped.
static bool SignInto(const std::string& aside, const char* name, const BuildRequest& request) {
    return SignExecutable(JoinPath(aside, name), request.Signing, JoinPath(request.OutputDirectory, name));
}

// The names a package directory holds of its own: what --force may delete.
static bool IsPackageFileName(const std::string& name) {
    std::vector<std::string> own = StampableTags();
    own.insert(own.end(), {"setup.exe", "unzip.exe", "package.zip", DebugTag});
    return !FindNameIgnoringCase(own, name).empty();
}

// The first entry of the directory that is not a package's own file (a
// subdirectory, a link, any other name), or "" when there is none.
static std::string ForeignEntry(const std::string& directory) {
    std::error_code code;
    fs::directory_iterator entries(PathOf(directory), code);
    if (code) {
        return directory + " (" + code.message() + ")";
    }
    for (; !code && entries != fs::directory_iterator(); entries.increment(code)) {
        const std::string name = TextOf(entries->path().filename());
        if (!IsPlainFile(TextOf(entries->path())) || !IsPackageFileName(name)) {
            return name;
        }
    }
    return code ? directory + " (" + code.message() + ")" : "";
}

// Deletes a replaced package: its own files one by one, then the directory
// if that left it empty; never anything else.
static void RemoveOldPackage(const std::string& old) {
    std::vector<std::string> names;
    if (ListDirectory(old, names)) {
        for (const std::string& name : names) {
            std::error_code code;
            const std::string path = JoinPath(old, name);
            if (IsPackageFileName(name) && IsPlainFile(path)) {
                fs::remove(PathOf(path), code);
            }
        }
    }
    std::error_code code;
    if (!fs::remove(PathOf(old), code)) {
        (void)fprintf(stderr, "pack: warning: the replaced package is kept in %s\n", old.c_str());
    }
}

// Moves the finished package to its place, replacing an empty directory or,
// when forced, a package directory.
static bool MoveIntoPlace(const std::string& aside, const std::string& out) {
    std::error_code code;
    std::string old;
    if (fs::exists(PathOf(out), code)) {
        if (fs::is_empty(PathOf(out), code)) {
            fs::remove(PathOf(out), code);
        } else if (!ForeignEntry(out).empty()) {
            Fail(out + " changed while the package was built: it holds " + ForeignEntry(out));
            return false;
        } else {
            old = NewDirectoryBeside(out, "old");
            fs::remove(PathOf(old), code);
            fs::rename(PathOf(out), PathOf(old), code);
        }
        if (code) {
            Fail("cannot replace " + out + ": " + code.message());
            return false;
        }
    }
    fs::rename(PathOf(aside), PathOf(out), code);
    if (code) {
        Fail("cannot move the package to " + out + ": " + code.message());
        if (!old.empty()) {
            std::error_code ignored;
            fs::rename(PathOf(old), PathOf(out), ignored);
        }
        return false;
    }
    if (!old.empty()) {
        RemoveOldPackage(old);
    }
    return true;
}

// How OUT_DIR stands to a folder that must not be touched: "is",
// "lies inside", "contains", or "" when apart.
static std::string Overlap(const std::string& out, const std::string& folder) {
    if (folder.empty()) {
        return "";
    }
    const bool inside = IsWithin(out, folder);
    const bool around = IsWithin(folder, out);
    return inside && around ? "is" : inside ? "lies inside" : around ? "contains" : "";
}

// What is refused before anything is written.
static bool AcceptRequest(const BuildRequest& request, const std::string& kit, std::string& installer) {
    if (!CheckTagNames(request.Tags)) {
        return false;
    }
    const bool anyVersionTag = std::any_of(request.Tags.begin(), request.Tags.end(),
                                           [](const std::string& tag) { return IsVersionTag(tag); });
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
    // The package replaces what the name names: a link would be replaced,
    // and with --force its target emptied.
    if (IsLink(WithoutTrailingSeparators(out))) {
        Fail("refused, nothing written: OUT_DIR " + out +
             " is a symbolic link or junction (give the directory it points to)");
        return false;
    }
    const std::string parent = ParentDirectory(WithoutTrailingSeparators(out));
    if (!IsDirectory(parent)) {
        Fail("refused, nothing written: the folder " + parent + " that is to hold OUT_DIR " + out +
             " does not exist (create it first)");
        return false;
    }
    const std::pair<std::string, std::string> guarded[] = {
        {request.InstallerDirectory,
         "the installer folder " + request.InstallerDirectory + ", which is packed whole"},
        {kit, "the kit folder " + kit}};
    for (const auto& folder : guarded) {
        const std::string overlap = Overlap(out, folder.first);
        if (!overlap.empty()) {
            Fail("refused, nothing written: OUT_DIR " + out + " " + overlap + " " + folder.second);
            return false;
        }
    }
    std::error_code code;
    if (fs::exists(PathOf(out), code)) {
        if (!IsDirectory(out)) {
            Fail("refused, nothing written: " + out + " exists and is not a directory");
            return false;
        }
        if (!fs::is_empty(PathOf(out), code) && !request.Force) {
            Fail("refused, nothing written: " + out +
                 " exists and is not empty (--force replaces a package there)");
            return false;
        }
        const std::string foreign = request.Force ? ForeignEntry(out) : "";
        if (!foreign.empty()) {
            Fail("refused, nothing written: --force replaces only a package, and " + out + " holds " +
                 foreign +
                 ", which is not a package's own file (setup.exe, unzip.exe, package.zip, tag files)");
            return false;
        }
    }
    return true;
}

int BuildPackage(const BuildRequest& request) {
    const std::string kit = request.Kit.empty() ? ProgramDirectory() : request.Kit;
    std::string installer;
    if (!AcceptRequest(request, kit, installer)) {
        return 1;
    }
    const std::string setup = request.Setup.empty() ? JoinPath(kit, "setup.exe") : request.Setup;
    const std::string unzip = request.Unzip.empty() ? JoinPath(kit, "unzip.exe") : request.Unzip;
    for (const std::string& program : {setup, unzip, ArchiveWriter(kit)}) {
        if (program == "zip") {
            continue;  // the system's, from PATH
        }
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
        (!request.Signing.Wanted() ||
         (SignInto(aside, "setup.exe", request) && SignInto(aside, "unzip.exe", request))) &&
        WritePackageArchive(request.InstallerDirectory, files, JoinPath(aside, "package.zip"), kit) &&
        WriteTags(request, aside);
    const bool checked = built && CheckPackage(aside, request.OutputDirectory) == 0;
    if (!checked || !MoveIntoPlace(aside, request.OutputDirectory)) {
        std::error_code code;
        fs::remove_all(PathOf(aside), code);
        Fail("no package written" + std::string(built && !checked ? ": the check found errors" : ""));
        return 1;
    }
    printf("built %s: package.zip (%zu files, %s at the root), setup.exe, unzip.exe\n",
           request.OutputDirectory.c_str(), files.AnsiPaths.size(), installer.c_str());
    return 0;
}
