// show: the tags setup.exe sees, where, and the Windows versions they admit.
#include "tools/pack/commands/show.h"

#include <stdio.h>

#include <vector>

#include "launcher/tail_scan.h"
#include "tools/pack/commands/findings.h"
#include "tools/pack/commands/report.h"
#include "tools/pack/commands/return_codes.h"
#include "tools/pack/commands/signing.h"
#include "tools/pack/formats/pe_image.h"
#include "tools/pack/formats/tags.h"
#include "tools/pack/host/files.h"
#include "tools/pack/names/file_names.h"
#include "tools/pack/names/package_names.h"

// The package directory and its executable, from a directory or an executable's path.
static bool LocatePackage(const std::string& target, std::string& directory, std::string& executable,
                          std::vector<std::string>& names) {
    if (IsDirectory(target)) {
        directory = target;
    } else if (IsRegularFile(target)) {
        directory = ParentDirectory(target);
        executable = target;
    } else {
        Fail("cannot read " + target + ": no such file or directory");
        return false;
    }
    if (!ListDirectory(directory, names)) {
        Fail("cannot read the directory " + directory);
        return false;
    }
    if (executable.empty()) {
        const std::string name = FindNameIgnoringCase(names, ExecutableName);
        if (name.empty()) {
            Fail("no setup.exe in " + directory);
            return false;
        }
        executable = JoinPath(directory, name);
    }
    return true;
}

// The package's unzip.exe, read for its signature; "" when there is none.
static std::string ExtractorIn(const std::string& directory, const std::vector<std::string>& names,
                               std::string& bytes) {
    const std::string name = FindNameIgnoringCase(names, ExtractorName);
    std::string error;
    return !name.empty() && ReadWholeFile(JoinPath(directory, name), bytes, error) ? name : "";
}

int ShowPackage(const std::string& target, const std::string& ca) {
    std::string directory;
    std::string executable;
    std::vector<std::string> names;
    if (!LocatePackage(target, directory, executable, names)) {
        return 1;
    }
    std::string bytes;
    if (!ReadExecutable(executable, bytes)) {
        return 1;
    }
    const PeImage image = ReadPeImage(bytes);
    printf("executable: %s (%zu bytes, %s)\n", executable.c_str(), bytes.size(),
           image.IsPe ? MachineName(image.Machine).c_str() : "not a Windows executable");
    const SignatureReport signature = CheckSignature(executable, bytes, ca);
    printf("signature: %s\n", SignatureText(signature).c_str());
    if (!signature.TagsInside.empty()) {
        Warn(PaddingCheckWarning(executable, signature.TagsInside));
    }
    std::string extractorBytes;
    const std::string extractor = ExtractorIn(directory, names, extractorBytes);
    if (!extractor.empty()) {
        printf("%s signature: %s\n", extractor.c_str(),
               SignatureText(CheckSignature(JoinPath(directory, extractor), extractorBytes, ca)).c_str());
    }
    printf("package directory: %s\n\n", directory.c_str());

    const std::vector<TagSighting> sightings = SightTags(bytes, names);
    printf(
        "tags setup.exe sees (tail: the last %d bytes of setup.exe; file: a file in the package "
        "directory):\n",
        TailRegionSize);
    bool anyTag = false;
    for (const TagSighting& sighting : sightings) {
        if (sighting.Seen()) {
            printf("  %-10s %s\n", sighting.Tag.c_str(), WhereFound(sighting).c_str());
            anyTag = true;
        }
    }
    if (!anyTag) {
        printf("  (none)\n");
    }
    for (const StrayTag& stray : TagsBeforeTail(bytes, image)) {
        printf("  not seen: %s at byte %zu, %zu bytes from the end (data was appended after it)\n",
               stray.Tag.c_str(), stray.Offset, stray.FromEnd);
    }
    const std::string debugFile = FindNameIgnoringCase(names, DebugTag);
    if (!debugFile.empty()) {
        printf("  %-10s file %s: debug mode when setup.exe is started from this directory\n", DebugTag,
               debugFile.c_str());
    }
    printf("\nWindows versions it installs on:\n");
    for (const VersionRow& row : VersionRows()) {
        const char* tag = TagForRow(row);
        const bool yes = tag != nullptr && Sees(sightings, tag);
        printf("  %-10s %-4s needs %-8s %s\n", row.Label, yes ? "yes" : "no", tag != nullptr ? tag : "-",
               row.Note);
    }
    printf("  any other version: never\n");
    printf("\nsilent installs run: SETUP.EXE %s\n",
           Sees(sightings, MsiTag) ? "/qn REBOOT=ReallySuppress (msi.tag)" : "-s -SMS");
    printf("exit code: %s\n", ExitCodeSummary(Sees(sightings, ExitCodeTag)).c_str());
    printf("log: %s\n", Sees(sightings, LogTag)
                            ? "QUILLER-YYYYMMDD-HHMMSS-PID.log in the temporary directory, kept (log.tag)"
                            : "none");
    return 0;
}

int ShowReturnCodes(const std::string& target, ReturnCodeFormat format,
                    const std::vector<unsigned long>& success, const std::vector<unsigned long>& reboot) {
    std::string directory;
    std::string executable;
    std::vector<std::string> names;
    std::string bytes;
    if (!LocatePackage(target, directory, executable, names) || !ReadExecutable(executable, bytes)) {
        return 1;
    }
    ReturnCodes codes;
    std::string problem;
    if (!PackageReturnCodes(Sees(SightTags(bytes, names), ExitCodeTag), success, reboot, codes, problem)) {
        Fail("refused: " + problem);
        return 1;
    }
    std::string notes;
    printf("%s", FormatReturnCodes(codes, format, notes).c_str());
    (void)fflush(stdout);
    for (size_t start = 0, end = 0; start < notes.size(); start = end + 1) {
        end = notes.find('\n', start);
        (void)fprintf(stderr, "pack: note: %s\n", notes.substr(start, end - start).c_str());
    }
    return 0;
}
