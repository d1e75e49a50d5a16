// The installation sequence the entry flow hands over to.
#pragma once

#include "install/outcome.h"

// Extracts the package into the working directory (temporary unless
// destinationOption names one), runs its installer and post-process script
// when the extraction succeeded, and removes a temporary working directory.
// With wholeProcesses, the installer and the script are each waited for
// until the process ends, not only its primary thread. Returns the exit code
// that reports the outcome, with its meaning.
Outcome InstallPackage(const char* destinationOption, int wholeProcesses);
