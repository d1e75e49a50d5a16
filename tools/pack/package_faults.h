// Faults that only show when a package is installed: an executable of the
// wrong kind, an archive entry whose data is damaged.
#pragma once

#include <string>
#include <vector>

#include "tools/pack/package_view.h"

// Why an executable cannot serve in a package: not a PE image, not for
// 32-bit x86, or not a GUI program (console false: setup.exe) or console
// program (console true: unzip.exe); "" when it can.
std::string ExecutableKindProblem(const PeFacts& facts, bool console);

// The entries whose line in the extractor's test report ("testing: NAME"
// and then "OK" or what is wrong) does not end in OK, in report order.
std::vector<std::string> EntriesFailingTest(const std::string& report,
                                            const std::vector<std::string>& entries);
