// What show and check tell alike about a package: where the launcher finds
// each tag, a signature in one line, and
// the warning for tags inside a signature.
#pragma once

#include <string>
#include <vector>

#include "tools/pack/commands/signing.h"

// The warning for tags inside an executable's certificate table.
std::string PaddingCheckWarning(const std::string& name, const std::vector<std::string>& tags);

// Reads the whole executable; says why when it cannot.
bool ReadExecutable(const std::string& executable, std::string& bytes);

// Where the launcher finds each known tag: "tail", "file NAME", both, or "".
struct TagSighting {
    std::string Tag;
    bool InTail;
    std::string FileName;
    bool Seen() const { return InTail || !FileName.empty(); }
};

// Every known tag, sighted in the executable's tail and among the names
// of the package directory.
std::vector<TagSighting> SightTags(const std::string& bytes, const std::vector<std::string>& names);
bool Sees(const std::vector<TagSighting>& sightings, const char* tag);
std::string WhereFound(const TagSighting& sighting);

// One line on an executable's signature: "none", "valid, signed by ...", ...
std::string SignatureText(const SignatureReport& report);
