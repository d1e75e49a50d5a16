// stamp, show and check: a package as the launcher will read it.
#include "tools/pack/commands.h"

#include <stdio.h>

#include <algorithm>

#include "launcher/tail_scan.h"
#include "tools/pack/build_package.h"
#include "tools/pack/cert_table.h"
#include "tools/pack/file_names.h"
#include "tools/pack/host_files.h"
#include "tools/pack/package_faults.h"
#include "tools/pack/package_view.h"
#include "tools/pack/signing.h"

// The longest temporary directory common among the launcher's targets:
// Windows 2000/XP's, for a user name of 20 characters (the longest those
// versions allow), with the launcher's own QUILLER below it.
const char TypicalWorkingDirectory[] =
    "C:\\Documents and Settings\\abcdefghijklmnopqrst\\Local Settings\\Temp\\QUILLER\\";

// Windows' MAX_PATH counts the terminating zero.
static const size_t MaxPath = 260;

static const char ExecutableName[] = "setup.exe";
static const char ExtractorName[] = "unzip.exe";
static const char ArchiveName[] = "package.zip";
static const char InstallerName[] = "SETUP.EXE";
static const char PostProcessName[] = "PostProcess.cmd";

static void Warn(const std::string& text) {
    (void)fprintf(stderr, "pack: warning: %s\n", text.c_str());
}
static void Fail(const std::string& text) {
    (void)fprintf(stderr, "pack: %s\n", text.c_str());
}

static std::string PaddingCheckWarning(const std::string& name, const std::vector<std::string>& tags) {
    std::string list;
    for (const std::string& tag : tags) {
        list += (list.empty() ? "" : ", ") + tag;
    }
    return name + " holds tags inside its signature's certificate table (" + list +
           "): Windows rejects the signature where the certificate padding check (EnableCertPaddingCheck) is "
           "on; for such machines give the tags as files (pack build --tag-files)";
}

bool CheckTagNames(const std::vector<std::string>& tags) {
    const auto bad =
        std::find_if(tags.begin(), tags.end(), [](const std::string& tag) { return !IsStampableTag(tag); });
    if (bad == tags.end()) {
        return true;
    }
    if (*bad == DebugTag) {
        Fail(
            "refused, nothing changed: debug.tag cannot be stamped: setup.exe looks for it only as a file "
            "in the directory it is started from (create an empty file named debug.tag there)");
        return false;
    }
    std::string known;
    for (const std::string& name : StampableTags()) {
        known.append(" ").append(name);
    }
    Fail("refused, nothing changed: '" + *bad + "' is not a tag setup.exe knows; the tags are:" + known);
    return false;
}

// Reads the whole executable; says why when it cannot.
static bool ReadExecutable(const std::string& executable, std::string& bytes) {
    std::string error;
    if (!ReadWholeFile(executable, bytes, error)) {
        Fail("cannot read " + executable + ": " + error);
        return false;
    }
    return true;
}

// A signed executable takes its tags inside the certificate table, never
// after it, where they would break the signature.
static int StampSigned(const std::string& executable, const std::string& bytes,
                       const std::vector<std::string>& tags, const char* shown) {
    std::string stamped;
    std::string problem;
    if (!StampIntoCertTable(bytes, tags, stamped, problem)) {
        Fail("refused, nothing changed: " + executable +
             " is signed, so its tags go inside the signature's certificate table, but " + problem +
             "; sign it again (pack sign) or give the tags as files");
        return 1;
    }
    const std::vector<std::string> before = ReadCertTable(bytes).Tags;
    std::string kept;
    std::string added;
    for (const std::string& tag : ReadCertTable(stamped).Tags) {
        const bool old = std::find(before.begin(), before.end(), tag) != before.end();
        const bool asked = std::find(tags.begin(), tags.end(), tag) != tags.end();
        std::string& list = old ? kept : added;
        if (asked || !old) {
            list += (list.empty() ? "" : ", ") + tag;
        }
    }
    if (!kept.empty()) {
        printf("%s: already inside the signature, left alone: %s\n", shown, kept.c_str());
    }
    if (stamped == bytes) {
        printf("%s: unchanged\n", shown);
        return 0;
    }
    std::string error;
    if (!ReplaceFileContents(executable, stamped, error)) {
        Fail("cannot write " + executable + ", nothing changed: " + error);
        return 1;
    }
    printf("%s: wrote %s inside the signature's certificate table (the signature stays valid)\n", shown,
           added.c_str());
    (void)fflush(stdout);
    Warn(PaddingCheckWarning(shown, ReadCertTable(stamped).Tags));
    return 0;
}

int StampTags(const std::string& executable, const std::vector<std::string>& tags,
              const std::string& shownAs) {
    const char* shown = (shownAs.empty() ? executable : shownAs).c_str();
    if (!CheckTagNames(tags)) {
        return 1;
    }
    std::string bytes;
    if (!ReadExecutable(executable, bytes)) {
        return 1;
    }
    const PeFacts facts = ReadPeFacts(bytes);
    if (!facts.IsPe) {
        Warn(executable + " is not a Windows executable (no PE headers)");
    } else if (facts.SecuritySize != 0) {
        return StampSigned(executable, bytes, tags, shown);
    }

    // Every tag the tail shows now, and every tag asked for, must be seen afterwards.
    std::vector<std::string> mustSee;
    for (const std::string& tag : StampableTags()) {
        if (TailSees(bytes, tag.c_str()) || std::find(tags.begin(), tags.end(), tag) != tags.end()) {
            mustSee.push_back(tag);
        }
    }
    std::string stamped = bytes;
    std::string appended;
    std::string kept;
    for (const std::string& tag : tags) {
        if (TailSees(bytes, tag.c_str())) {
            kept += (kept.empty() ? "" : ", ") + tag;
        } else if (appended.find(tag + "\r\n") == std::string::npos) {
            appended += tag + "\r\n";
        }
    }
    stamped += appended;
    const auto lost = std::find_if(mustSee.begin(), mustSee.end(),
                                   [&](const std::string& tag) { return !TailSees(stamped, tag.c_str()); });
    if (lost != mustSee.end()) {
        Fail("refused, nothing changed: after appending " + std::to_string(appended.size()) + " bytes, " +
             *lost + " would no longer lie within the last " + std::to_string(TailRegionSize) + " bytes of " +
             executable +
             ", the only part setup.exe reads; give tags as files in the package directory instead");
        return 1;
    }
    if (!kept.empty()) {
        printf("%s: already in the tail, left alone: %s\n", shown, kept.c_str());
    }
    if (appended.empty()) {
        printf("%s: unchanged\n", shown);
        return 0;
    }
    std::string error;
    if (!ReplaceFileContents(executable, stamped, error)) {
        Fail("cannot write " + executable + ", nothing changed: " + error);
        return 1;
    }
    std::string names = appended;
    for (size_t at = names.find("\r\n"); at != std::string::npos; at = names.find("\r\n")) {
        names.replace(at, 2, names.size() > at + 2 ? ", " : "");
    }
    printf("%s: appended %s (%zu bytes)\n", shown, names.c_str(), appended.size());
    return 0;
}

// Where the launcher finds each known tag: "tail", "file NAME", both, or "".
struct TagSighting {
    std::string Tag;
    bool InTail;
    std::string FileName;
    bool Seen() const { return InTail || !FileName.empty(); }
};

static std::vector<TagSighting> SightTags(const std::string& bytes, const std::vector<std::string>& names) {
    std::vector<TagSighting> sightings;
    for (const std::string& tag : StampableTags()) {
        sightings.push_back({tag, TailSees(bytes, tag.c_str()) != 0, FindNameIgnoringCase(names, tag)});
    }
    return sightings;
}

static bool Sees(const std::vector<TagSighting>& sightings, const char* tag) {
    for (const TagSighting& sighting : sightings) {
        if (sighting.Tag == tag) {
            return sighting.Seen();
        }
    }
    return false;
}

static std::string WhereFound(const TagSighting& sighting) {
    std::string where = sighting.InTail ? "tail" : "";
    if (!sighting.FileName.empty()) {
        where += (where.empty() ? "" : ", ") + std::string("file ") + sighting.FileName;
    }
    return where;
}

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

// One line on an executable's signature: "none", "valid, signed by ...", ...
static std::string SignatureText(const SignatureReport& report) {
    switch (report.State) {
        case SignatureState::None:
            return "none";
        case SignatureState::Valid:
            return "valid, signed by " + (report.Subject.empty() ? std::string("?") : report.Subject) + " (" +
                   report.Detail + ")";
        case SignatureState::Broken:
            return "BROKEN: " + report.Detail;
        case SignatureState::Unverified:
            break;
    }
    return "present, " + report.Detail;
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
    const PeFacts facts = ReadPeFacts(bytes);
    printf("executable: %s (%zu bytes, %s)\n", executable.c_str(), bytes.size(),
           facts.IsPe ? MachineName(facts.Machine).c_str() : "not a Windows executable");
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
    for (const StrayTag& stray : TagsBeforeTail(bytes, facts)) {
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
    printf("exit code: %s\n",
           Sees(sightings, ExitCodeTag)
               ? "the outcome (exitcode.tag): the installer's, 1633 refused, 82 no working "
                 "directory, 1460 still running, a start error as it is"
               : "1 once the installation ran, 0 after a refusal");
    printf("log: %s\n", Sees(sightings, LogTag)
                            ? "QUILLER-YYYYMMDD-HHMMSS-PID.log in the temporary directory, kept (log.tag)"
                            : "none");
    return 0;
}

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

// One line on an executable's signature; a broken one is an error.
static void CheckSigned(CheckReport& report, const std::string& name, const std::string& path,
                        const std::string& bytes, const std::string& ca) {
    const SignatureReport signature = CheckSignature(path, bytes, ca);
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
}

static void CheckExecutable(CheckReport& report, const std::string& path,
                            const std::vector<std::string>& names, std::vector<TagSighting>& sightings,
                            const std::string& ca) {
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(path, bytes, error)) {
        Bad(report, "cannot read " + path + ": " + error);
        return;
    }
    const PeFacts facts = ReadPeFacts(bytes);
    const std::string kind = ExecutableKindProblem(facts, false);
    if (!kind.empty()) {
        Bad(report, "setup.exe " + kind);
    } else {
        Ok("setup.exe (" + std::to_string(bytes.size()) + " bytes, " + MachineName(facts.Machine) + ")");
    }
    CheckSigned(report, "setup.exe", path, bytes, ca);
    sightings = SightTags(bytes, names);
    if (TailSees(bytes, DebugTag)) {
        Caution(report, "debug.tag in the tail of setup.exe has no effect: only a file of that name counts");
    }
    for (const StrayTag& stray : TagsBeforeTail(bytes, facts)) {
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
}

// unzip.exe: a console program for 32-bit x86, as setup.exe starts it.
static void CheckExtractor(CheckReport& report, const std::string& directory, const std::string& name,
                           const std::string& ca) {
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(JoinPath(directory, name), bytes, error)) {
        Bad(report, "cannot read " + name + ": " + error);
        return;
    }
    const std::string kind = ExecutableKindProblem(ReadPeFacts(bytes), true);
    if (!kind.empty()) {
        Bad(report, name + " " + kind + ": setup.exe could not extract package.zip with it");
    } else {
        Ok(name + " (" + std::to_string(bytes.size()) + " bytes, 32-bit x86 console program)");
    }
    CheckSigned(report, name, JoinPath(directory, name), bytes, ca);
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

bool TooLongForWorkingDirectory(const std::string& entry) {
    return sizeof TypicalWorkingDirectory - 1 + entry.size() + 1 > MaxPath;
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
    if (executable.empty()) {
        Bad(report, "no setup.exe in the package directory");
    } else {
        CheckExecutable(report, JoinPath(directory, executable), names, sightings, ca);
    }
    const std::string extractor = FindNameIgnoringCase(names, ExtractorName);
    if (extractor.empty()) {
        Bad(report, "no unzip.exe in the package directory: setup.exe extracts package.zip with it");
    } else {
        CheckExtractor(report, directory, extractor, ca);
    }
    const std::string archive = FindNameIgnoringCase(names, ArchiveName);
    if (archive.empty()) {
        Bad(report, "no package.zip in the package directory");
    } else if (extractor.empty() && ArchiveLister(directory) != "unzip") {
        Bad(report, "package.zip not read: there is no unzip.exe to read it with");
    } else {
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
    if (!FindNameIgnoringCase(names, DebugTag).empty()) {
        Caution(report,
                "debug.tag in the package directory: started from there, setup.exe shows diagnostic boxes");
    }
    printf("%d error%s, %d warning%s\n", report.Errors, report.Errors == 1 ? "" : "s", report.Warnings,
           report.Warnings == 1 ? "" : "s");
    return report.Errors == 0 ? 0 : 1;
}
