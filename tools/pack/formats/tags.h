// The tags as the launcher reads them: the names it knows, what it sees of
// them in the executable's tail, and the Windows versions they admit.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "tools/pack/formats/pe_image.h"

// One row of the launcher's version classification, probed with a sample
// version and architecture; the tag comes from the launcher's own table.
struct VersionRow {
    const char* Label;  // the row in the launcher's terms: "4", "5.0", ... "6.x"
    unsigned Major;
    unsigned Minor;
    unsigned Architecture;
    const char* Note;  // what a packager should know about the row, or ""
};

const std::vector<VersionRow>& VersionRows();

// The tag a row needs, as the launcher's version table answers for it.
const char* TagForRow(const VersionRow& row);

// The tag that switches silent installs to the Windows Installer's switches.
extern const char MsiTag[];
// The tag that makes the exit code report the outcome, for deployment tools.
extern const char ExitCodeTag[];
// The tag that makes each run write its log in the temporary directory.
extern const char LogTag[];
// The debug switch: a file in the launch directory, never read from the tail.
extern const char DebugTag[];

// Every tag the launcher reads from the tail or the package directory: the
// version tags in table order, then msi.tag, exitcode.tag and log.tag.
std::vector<std::string> StampableTags();
bool IsStampableTag(const std::string& name);
// 1 for a tag that admits a Windows version, not one of the switches.
bool IsVersionTag(const std::string& name);

// The bytes the launcher searches: the last TailRegionSize bytes (or all of
// a shorter file).
std::string TailOf(const std::string& file);
// 1 when the launcher's tail scan finds tag in the tail of file.
int TailSees(const std::string& file, const char* tag);

// A known tag found in data appended to the executable but outside its tail.
struct StrayTag {
    std::string Tag;
    size_t Offset;
    size_t FromEnd;  // bytes from its first byte to the end of the file
};

// Known tags in the executable's appended data (after the image and any
// certificate table) that lie, at least partly, before the tail; the image's
// own bytes are not searched since the launcher's code carries the names.
std::vector<StrayTag> TagsBeforeTail(const std::string& file, const PeImage& image);
