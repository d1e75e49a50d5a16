// The installer folder walked once, each name judged as it is met.
#include "tools/pack/commands/installer_folder.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "tools/pack/commands/report.h"
#include "tools/pack/formats/zip_directory.h"
#include "tools/pack/host/files.h"
#include "tools/pack/names/file_names.h"

namespace fs = std::filesystem;

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

bool ListInstallerFiles(const std::string& root, InstallerFiles& files) {
    std::error_code code;
    const fs::path rootPath = PathOf(root);
    fs::recursive_directory_iterator walk(rootPath, code);
    std::vector<std::string> refused;
    std::vector<std::string> tooLong;
    std::map<std::string, std::string> folded;
    std::vector<std::pair<std::string, std::string>> found;  // each path and its ANSI spelling
    uint64_t bytes = 0;
    std::string outsideAscii;  // the first such name
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
        const uintmax_t size = entry.file_size(kind);
        bytes += kind ? 0 : size;
        if (outsideAscii.empty() && !IsAscii(path)) {
            outsideAscii = path;
        }
        if (TooLongForWorkingDirectory(path)) {
            tooLong.push_back(path);
        }
        found.emplace_back(path, ansi);
    }
    if (code) {
        Fail("refused, nothing written: cannot read the installer folder " + root + ": " + code.message());
        return false;
    }
#ifdef _WIN32
    // zip.exe gives such a name an extra field, and the archive is written
    // anew without it, in the classic records only.
    if (!outsideAscii.empty() && MayNeedZip64(found.size(), bytes)) {
        refused.push_back(outsideAscii + ": a name outside ASCII in a folder of " +
                          std::to_string(found.size()) + " files and " + std::to_string(bytes) +
                          " bytes, which may need Zip64 records: pack.exe writes such names into "
                          "archives under 65,536 files and 4 GiB only (build this package on Linux)");
    }
#else
    (void)outsideAscii;
    (void)bytes;
#endif
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
