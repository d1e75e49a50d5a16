// The findings show and check share, in the same words.
#include "tools/pack/commands/findings.h"

#include "tools/pack/commands/report.h"
#include "tools/pack/formats/tags.h"
#include "tools/pack/host/files.h"
#include "tools/pack/names/file_names.h"

std::string PaddingCheckWarning(const std::string& name, const std::vector<std::string>& tags) {
    std::string list;
    for (const std::string& tag : tags) {
        list += (list.empty() ? "" : ", ") + tag;
    }
    return name + " holds tags inside its signature's certificate table (" + list +
           "): Windows rejects the signature where the certificate padding check (EnableCertPaddingCheck) is "
           "on; for such machines give the tags as files (pack build --tag-files)";
}

bool ReadExecutable(const std::string& executable, std::string& bytes) {
    std::string error;
    if (!ReadWholeFile(executable, bytes, error)) {
        Fail("cannot read " + executable + ": " + error);
        return false;
    }
    return true;
}

std::vector<TagSighting> SightTags(const std::string& bytes, const std::vector<std::string>& names) {
    std::vector<TagSighting> sightings;
    for (const std::string& tag : StampableTags()) {
        sightings.push_back({tag, TailSees(bytes, tag.c_str()) != 0, FindNameIgnoringCase(names, tag)});
    }
    return sightings;
}

bool Sees(const std::vector<TagSighting>& sightings, const char* tag) {
    for (const TagSighting& sighting : sightings) {
        if (sighting.Tag == tag) {
            return sighting.Seen();
        }
    }
    return false;
}

std::string WhereFound(const TagSighting& sighting) {
    std::string where = sighting.InTail ? "tail" : "";
    if (!sighting.FileName.empty()) {
        where += (where.empty() ? "" : ", ") + std::string("file ") + sighting.FileName;
    }
    return where;
}

std::string SignatureText(const SignatureReport& report) {
    switch (report.State) {
        case SignatureState::None:
            return "none";
        case SignatureState::Valid:
            if (report.Detail == ChainNotChecked) {
                return "valid (" + report.Detail + "), signed by " +
                       (report.Subject.empty() ? std::string("?") : report.Subject);
            }
            return "valid, signed by " + (report.Subject.empty() ? std::string("?") : report.Subject) + " (" +
                   report.Detail + ")";
        case SignatureState::Broken:
            return "BROKEN: " + report.Detail;
        case SignatureState::Unverified:
            break;
    }
    return "present, " + report.Detail;
}
