// check: the executables, the archive and the tags, each finding printed as
// it comes, an error or a warning.
#include "tools/pack/commands/check.h"

#include <stdio.h>

#include <vector>

#include "launcher/tail_scan.h"
#include "tools/pack/commands/findings.h"
#include "tools/pack/commands/report.h"
#include "tools/pack/commands/signing.h"
#include "tools/pack/formats/cert_table.h"
#include "tools/pack/formats/extractor_report.h"
#include "tools/pack/formats/pe_image.h"
#include "tools/pack/formats/tags.h"
#include "tools/pack/formats/zip_archive.h"
#include "tools/pack/host/extractor.h"
#include "tools/pack/host/files.h"
#include "tools/pack/names/file_names.h"
#include "tools/pack/names/package_names.h"

// The check's findings, printed as they come.
struct CheckReport {
    int Errors = 0;
    int Warnings = 0;
};

static void Ok(const std::string& text) {
    printf("  ok       %s\n", text.c_str());
}
static void Bad(CheckReport& report, const std::string& text) {
    printf("  error    %s\n", text.c_str());
    ++report.Errors;
}
static void Caution(CheckReport& report, const std::string& text) {
    printf("  warning  %s\n", text.c_str());
    ++report.Warnings;
}

// One line on an executable's signature; a broken one is an error, as is a
// file cut short. Returns the signature's state.
static SignatureState CheckSigned(CheckReport& report, const std::string& name, const std::string& path,
                                  const std::string& bytes, const std::string& ca) {
    const SignatureReport signature = CheckSignature(path, bytes, ca);
    const std::string damage = ExecutableDamage(bytes);
    if (!damage.empty() && damage != signature.Detail) {
        Bad(report, name + ": " + damage);
    }
    const std::string line = name + " signature: " + SignatureText(signature);
    if (signature.State == SignatureState::Broken) {
        Bad(report, line);
    } else if (signature.State == SignatureState::Unverified) {
        Caution(report, line);
    } else {
        Ok(line);
    }
    if (!signature.TagsInside.empty()) {
        Caution(report, PaddingCheckWarning(name, signature.TagsInside));
    }
    return signature.State;
}

static SignatureState CheckExecutable(CheckReport& report, const std::string& path,
                                      const std::vector<std::string>& names,
                                      std::vector<TagSighting>& sightings, const std::string& ca) {
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(path, bytes, error)) {
        Bad(report, "cannot read " + path + ": " + error);
        return SignatureState::None;
    }
    const PeImage image = ReadPeImage(bytes);
    const std::string kind = ExecutableKindProblem(image, false);
    if (!kind.empty()) {
        Bad(report, "setup.exe " + kind);
    } else {
        Ok("setup.exe (" + std::to_string(bytes.size()) + " bytes, " + MachineName(image.Machine) + ")");
    }
    const SignatureState signature = CheckSigned(report, "setup.exe", path, bytes, ca);
    sightings = SightTags(bytes, names);
    if (TailSees(bytes, DebugTag)) {
        Caution(report, "debug.tag in the tail of setup.exe has no effect: only a file of that name counts");
    }
    for (const StrayTag& stray : TagsBeforeTail(bytes, image)) {
        const std::string where = stray.Tag + " at byte " + std::to_string(stray.Offset) +
                                  " of setup.exe is " + std::to_string(stray.FromEnd) +
                                  " bytes from its end, outside the last " + std::to_string(TailRegionSize) +
                                  " bytes setup.exe reads";
        if (Sees(sightings, stray.Tag.c_str())) {
            Caution(report, where + " (it is given elsewhere too)");
        } else {
            Bad(report, where + ": the tag is not seen (other data was appended after it)");
        }
    }
    return signature;
}

// unzip.exe: a console program for 32-bit x86, as setup.exe starts it.
static SignatureState CheckExtractor(CheckReport& report, const std::string& directory,
                                     const std::string& name, const std::string& ca) {
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(JoinPath(directory, name), bytes, error)) {
        Bad(report, "cannot read " + name + ": " + error);
        return SignatureState::None;
    }
    const std::string kind = ExecutableKindProblem(ReadPeImage(bytes), true);
    if (!kind.empty()) {
        Bad(report, name + " " + kind + ": setup.exe could not extract package.zip with it");
    } else if (!IsExtractor(bytes)) {
        Bad(report, name +
                        " is not Info-ZIP UnZip (it lacks UnZip's own help text; zip.exe renamed?): "
                        "setup.exe could not extract package.zip with it");
    } else {
        Ok(name + " (" + std::to_string(bytes.size()) + " bytes, 32-bit x86 console program)");
    }
    return CheckSigned(report, name, JoinPath(directory, name), bytes, ca);
}

// Every entry's data, extracted to nowhere by the extractor that lists it.
static void TestEntries(CheckReport& report, const std::string& directory, const std::string& archive,
                        const std::vector<std::string>& entries) {
    std::string testReport;
    const int status = TestArchive(directory, archive, testReport);
    const std::vector<std::string> failed = EntriesFailingTest(testReport, entries);
    for (const std::string& entry : failed) {
        Bad(report, "package.zip: " + entry + ": its data does not test clean (" + ArchiveLister(directory) +
                        " -t: a bad CRC or damaged data); setup.exe would install it damaged or not at all");
    }
    if (failed.empty() && status != 0) {
        Bad(report, "package.zip does not test clean (" + ArchiveLister(directory) + " -t exit status " +
                        std::to_string(status) + ")");
    }
}

static void CheckArchive(CheckReport& report, const std::string& directory, const std::string& archive) {
    std::vector<std::string> entries;
    const int status = ListArchive(directory, archive, entries);
    if (status < 0) {
        Bad(report, "cannot run " + ArchiveLister(directory) + " to read package.zip");
        return;
    }
    if (status > 1) {
        Bad(report, "package.zip is not a readable zip archive (" + ArchiveLister(directory) +
                        " -Z1 exit status " + std::to_string(status) + ")");
        return;
    }
    // The names as stored, not as the extractor prints them in a code page.
    std::vector<std::string> stored;
    std::string error;
    if (ReadArchiveNames(archive, stored, error)) {
        entries.swap(stored);
    }
    std::vector<std::string> rootNames;
    std::vector<std::string> tooLong;
    for (std::string entry : entries) {
        if (entry.compare(0, 2, "./") == 0) {
            entry.erase(0, 2);
        }
        if (entry.find('/') == std::string::npos) {
            rootNames.push_back(entry);
        }
        if (TooLongForWorkingDirectory(entry)) {
            tooLong.push_back(entry);
        }
    }
    const std::string installer = FindNameIgnoringCase(rootNames, InstallerName);
    if (installer.empty()) {
        Bad(report, "package.zip holds no SETUP.EXE at its root: setup.exe would have no installer to run");
    } else {
        Ok("package.zip (" + std::to_string(entries.size()) + " entries, " + installer + " at the root)");
    }
    TestEntries(report, directory, archive, entries);
    const std::string postProcess = FindNameIgnoringCase(rootNames, PostProcessName);
    if (!postProcess.empty()) {
        Caution(report,
                "package.zip holds " + postProcess +
                    " at its root: setup.exe runs it after SETUP.EXE, with the working directory current");
    }
    for (const std::string& entry : entries) {
        if (IsAscii(entry)) {
            continue;
        }
        const std::string pages = CodePagesSpelling(entry);
        if (pages.empty()) {
            Bad(report, "package.zip: " + entry + ": " + NoCodePageSpells);
            continue;
        }
        std::string text = "package.zip: " + entry;
        text.append(" is a name outside ASCII: spelled by the ANSI code pages ")
            .append(pages)
            .append(
                "; unzip.exe restores it exactly on Windows whose ANSI code page spells it, and refuses it "
                "(exit code 2) on any other");
        Caution(report, text);
    }
    for (const std::string& entry : tooLong) {
        Caution(report, "package.zip: " + entry + " (" + std::to_string(entry.size()) +
                            " characters) passes MAX_PATH (" + std::to_string(MaxPath) + ") under " +
                            TypicalWorkingDirectory);
    }
}

int CheckPackage(const std::string& directory, const std::string& shownAs, const std::string& ca) {
    std::vector<std::string> names;
    if (!IsDirectory(directory) || !ListDirectory(directory, names)) {
        Fail("cannot read the package directory " + directory +
             (IsRegularFile(directory) ? ": not a directory" : ""));
        return 1;
    }
    printf("checking %s\n", (shownAs.empty() ? directory : shownAs).c_str());
    CheckReport report;
    std::vector<TagSighting> sightings = SightTags("", names);
    const std::string executable = FindNameIgnoringCase(names, ExecutableName);
    SignatureState setupSigned = SignatureState::None;
    SignatureState unzipSigned = SignatureState::None;
    if (executable.empty()) {
        Bad(report, "no setup.exe in the package directory");
    } else {
        setupSigned = CheckExecutable(report, JoinPath(directory, executable), names, sightings, ca);
    }
    const std::string extractor = FindNameIgnoringCase(names, ExtractorName);
    if (extractor.empty()) {
        Bad(report, "no unzip.exe in the package directory: setup.exe extracts package.zip with it");
    } else {
        unzipSigned = CheckExtractor(report, directory, extractor, ca);
    }
    // setup.exe runs unzip.exe: a signed one vouches for nothing when the
    // program it starts is unsigned.
    if (!executable.empty() && !extractor.empty() &&
        (setupSigned == SignatureState::None) != (unzipSigned == SignatureState::None)) {
        Bad(report,
            std::string(setupSigned == SignatureState::None ? "unzip.exe is signed but setup.exe is not"
                                                            : "setup.exe is signed but unzip.exe is not") +
                ": sign both (pack sign)");
    }
    const std::string archive = FindNameIgnoringCase(names, ArchiveName);
    if (archive.empty()) {
        Bad(report, "no package.zip in the package directory");
    } else if (ArchiveLister(directory) != "unzip" && !IsRegularFile(ArchiveLister(directory))) {
        Bad(report, "package.zip not read: there is no " + ArchiveLister(directory) + " to read it with");
    } else {
        if (ArchiveLister(directory) != "unzip") {
            Ok("package.zip read and tested with " + ArchiveLister(directory) + ", the one beside pack.exe");
        }
        CheckArchive(report, directory, JoinPath(directory, archive));
    }

    std::string versions;
    std::string versionTags;
    for (const VersionRow& row : VersionRows()) {
        const char* tag = TagForRow(row);
        if (tag != nullptr && Sees(sightings, tag)) {
            versions += (versions.empty() ? "" : ", ") + std::string(row.Label);
        }
    }
    for (const TagSighting& sighting : sightings) {
        if (sighting.Seen() && IsVersionTag(sighting.Tag)) {
            versionTags +=
                (versionTags.empty() ? "" : "; ") + sighting.Tag + " (" + WhereFound(sighting) + ")";
        }
    }
    if (versions.empty()) {
        Bad(report, "no version tag: setup.exe refuses every Windows version");
    } else {
        Ok("version tags " + versionTags + ": installs on Windows " + versions);
    }
    if (!Sees(sightings, ExitCodeTag)) {
        Caution(
            report,
            "without exitcode.tag an agent reads a refusal (exit code 0) as success; add exitcode.tag (and "
            "log.tag) for deployments through an agent");
    }
    if (!FindNameIgnoringCase(names, DebugTag).empty()) {
        Caution(report,
                "debug.tag in the package directory: started from there, setup.exe shows diagnostic boxes");
    }
    printf("%d error%s, %d warning%s\n", report.Errors, report.Errors == 1 ? "" : "s", report.Warnings,
           report.Warnings == 1 ? "" : "s");
    return report.Errors == 0 ? 0 : 1;
}
