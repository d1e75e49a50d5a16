// Stamping: lines appended within the tail, or written inside the
// signature's certificate table, and read back before anything is replaced.
#include "tools/pack/commands/stamp.h"

#include <stdio.h>

#include <algorithm>

#include "launcher/tail_scan.h"
#include "tools/pack/commands/findings.h"
#include "tools/pack/commands/report.h"
#include "tools/pack/formats/cert_table.h"
#include "tools/pack/formats/pe_image.h"
#include "tools/pack/formats/tags.h"
#include "tools/pack/host/files.h"

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

// Replaces the executable with its stamped bytes in one step; says why
// when it cannot, the file unchanged.
static bool WriteStamped(const std::string& executable, const std::string& stamped) {
    std::string error;
    if (!ReplaceFileContents(executable, stamped, error)) {
        Fail("cannot write " + executable + ", nothing changed: " + error);
        return false;
    }
    return true;
}

// A signed executable takes its tags inside the certificate table, never
// after it, where they would break the signature.
// bytes: the file, or, when tags are moved inside, the file without them
// (then original is the file as it is).
static int StampSigned(const std::string& executable, const std::string& bytes, const std::string& original,
                       const PeImage& image, const std::vector<std::string>& tags, const char* shown) {
    const CertTable table = ReadCertTable(bytes, image);
    std::string stamped;
    CertTable stampedTable;
    std::string problem;
    if (!StampIntoCertTable(bytes, table, tags, stamped, stampedTable, problem)) {
        Fail("refused, nothing changed: " + executable +
             " is signed, so its tags go inside the signature's certificate table, but " + problem +
             "; give the tags as files");
        return 1;
    }
    const std::vector<std::string>& before = table.Tags;
    std::string kept;
    std::string added;
    for (const std::string& tag : stampedTable.Tags) {
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
    if (stamped == original) {
        printf("%s: unchanged\n", shown);
        return 0;
    }
    if (!WriteStamped(executable, stamped)) {
        return 1;
    }
    printf("%s: wrote %s inside the signature's certificate table (the signature stays valid)\n", shown,
           added.c_str());
    (void)fflush(stdout);
    Warn(PaddingCheckWarning(shown, stampedTable.Tags));
    return 0;
}

// Reads the executable to be stamped with tags: false, with the reason
// given, when a tag is unknown, it cannot be read, or it is damaged (cut
// short, or its certificate table faulty), which stamping never rewrites.
static bool ReadSoundExecutable(const std::string& executable, const std::vector<std::string>& tags,
                                std::string& bytes) {
    if (!CheckTagNames(tags) || !ReadExecutable(executable, bytes)) {
        return false;
    }
    const std::string damage = ExecutableDamage(bytes);
    if (!damage.empty()) {
        Fail("refused, nothing changed: " + executable + ": " + damage);
        return false;
    }
    return true;
}

int StampTags(const std::string& executable, const std::vector<std::string>& tags,
              const std::string& shownAs) {
    const char* shown = (shownAs.empty() ? executable : shownAs).c_str();
    std::string bytes;
    if (!ReadSoundExecutable(executable, tags, bytes)) {
        return 1;
    }
    const PeImage image = ReadPeImage(bytes);
    if (!image.IsPe) {
        Warn(executable + " is not a Windows executable (no PE headers)");
    } else if (image.SecuritySize != 0) {
        // Tags appended after the signature move inside it, before those asked for.
        const CertTable table = ReadCertTable(bytes, image);
        if (!table.TagsAfter.empty()) {
            std::vector<std::string> moved = table.TagsAfter;
            moved.insert(moved.end(), tags.begin(), tags.end());
            printf("%s: moving the tags appended after the signature inside it\n", shown);
            return StampSigned(executable, bytes.substr(0, table.Offset + table.Size), bytes, image, moved,
                               shown);
        }
        return StampSigned(executable, bytes, bytes, image, tags, shown);
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
    if (!WriteStamped(executable, stamped)) {
        return 1;
    }
    std::string names = appended;
    for (size_t at = names.find("\r\n"); at != std::string::npos; at = names.find("\r\n")) {
        names.replace(at, 2, names.size() > at + 2 ? ", " : "");
    }
    printf("%s: appended %s (%zu bytes)\n", shown, names.c_str(), appended.size());
    return 0;
}

int SetTags(const std::string& executable, const std::vector<std::string>& tags, bool remove) {
    std::string bytes;
    if (!ReadSoundExecutable(executable, tags, bytes)) {
        return 1;
    }
    const PeImage image = ReadPeImage(bytes);
    if (!image.IsPe) {
        Fail("refused, nothing changed: " + executable + " is not a Windows executable (no PE headers)");
        return 1;
    }
    // The tag lines the file carries now: inside the signature (and after
    // it), or appended after the image.
    CertTable table = ReadCertTable(bytes, image);
    std::string file = bytes;
    std::vector<std::string> current;
    if (table.Signed) {
        file = bytes.substr(0, table.Offset + table.Size);
        current = table.Tags;
        current.insert(current.end(), table.TagsAfter.begin(), table.TagsAfter.end());
        table = ReadCertTable(file, image);
    } else {
        const size_t end = static_cast<size_t>(image.ImageEnd);
        if (!ReadTagLines(bytes, end, bytes.size(), current).empty()) {
            Fail("refused, nothing changed: " + executable + " holds " + std::to_string(bytes.size() - end) +
                 " bytes after its image that are not tag lines: its tags cannot be told apart from them");
            return 1;
        }
        file = bytes.substr(0, end);
    }
    std::vector<std::string> wanted;
    for (const std::string& tag : remove ? current : tags) {
        const bool dropped = remove && std::find(tags.begin(), tags.end(), tag) != tags.end();
        if (!dropped && std::find(wanted.begin(), wanted.end(), tag) == wanted.end()) {
            wanted.push_back(tag);
        }
    }
    std::string stamped = file;
    std::string problem;
    if (table.Signed) {
        CertTable cleared = table;
        cleared.Tags.clear();
        CertTable stampedTable;
        if (!StampIntoCertTable(file, cleared, wanted, stamped, stampedTable, problem)) {
            Fail("refused, nothing changed: " + executable + ": " + problem);
            return 1;
        }
    } else {
        for (const std::string& tag : wanted) {
            stamped += tag + "\r\n";
        }
        const auto lost = std::find_if(wanted.begin(), wanted.end(), [&](const std::string& tag) {
            return !TailSees(stamped, tag.c_str());
        });
        if (lost != wanted.end()) {
            Fail("refused, nothing changed: " + *lost + " would not lie within the last " +
                 std::to_string(TailRegionSize) + " bytes of " + executable);
            return 1;
        }
    }
    if (stamped == bytes) {
        printf("%s: unchanged\n", executable.c_str());
        return 0;
    }
    if (!WriteStamped(executable, stamped)) {
        return 1;
    }
    std::string names;
    for (const std::string& tag : wanted) {
        names += (names.empty() ? "" : ", ") + tag;
    }
    printf("%s: tags now %s%s\n", executable.c_str(), names.empty() ? "none" : names.c_str(),
           table.Signed ? " (inside the signature's certificate table)" : "");
    return 0;
}
