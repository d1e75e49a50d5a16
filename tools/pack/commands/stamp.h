// pack stamp: tags written where the launcher reads them, in the tail of
// setup.exe or, when it is signed, inside its certificate table.
#pragma once

#include <string>
#include <vector>

// Appends the tags that the executable's tail does not show yet. The report
// calls the executable shownAs when that is given. Returns the exit status:
// 0 done, 1 refused.
int StampTags(const std::string& executable, const std::vector<std::string>& tags,
              const std::string& shownAs = "");

// pack stamp --replace (remove false): the executable's stamped tag lines
// become exactly tags; --remove (remove true): tags are taken away from
// them. Signed or not, as StampTags writes them. Returns the exit status.
int SetTags(const std::string& executable, const std::vector<std::string>& tags, bool remove);

// true when every name is a tag that can be stamped; else says why not.
bool CheckTagNames(const std::vector<std::string>& tags);
