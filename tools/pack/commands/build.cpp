// build: the installer folder zipped by Info-ZIP Zip, the kit's setup.exe
// and unzip.exe beside it, the tags stamped, all written aside, checked and
// then moved into place.
#include "tools/pack/commands/build.h"
#include "tools/pack/formats/cert_table.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>

#include "tools/pack/commands/check.h"
#include "tools/pack/commands/installer_folder.h"
#include "tools/pack/commands/report.h"
#include "tools/pack/commands/stamp.h"
#include "tools/pack/formats/tags.h"
#include "tools/pack/formats/zip_archive.h"
#include "tools/pack/host/files.h"
#include "tools/pack/host/processes.h"
#include "tools/pack/names/file_names.h"
#include "tools/pack/names/package_names.h"

namespace fs = std::filesystem;

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
    ChildRun run;
    run.Directory = installer;
    run.Program = writer;
    run.Args = options;
    run.Input = &names;
    const int status = RunChild(run);
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
        Warn("the replaced package is kept in " + old);
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
            old = NewDirectoryBeside(WithoutTrailingSeparators(out), "old");
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
    for (const std::string& program : {setup, unzip}) {
        std::string bytes;
        std::string error;
        const std::string damage = ReadWholeFile(program, bytes, error) ? ExecutableDamage(bytes) : error;
        if (!damage.empty()) {
            Fail("refused, nothing written: " + program + ": " + damage);
            return 1;
        }
    }
    InstallerFiles files;
    if (!ListInstallerFiles(request.InstallerDirectory, files)) {
        return 1;
    }
    for (const std::string& empty : files.EmptyDirectories) {
        Warn("empty directory " + empty + " is not packed (the archive holds files only)");
    }

    const std::string aside = NewDirectoryBeside(WithoutTrailingSeparators(request.OutputDirectory), "tmp");
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
