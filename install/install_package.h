// The installation sequence the entry flow hands over to.
#pragma once

// Extracts the package into the working directory (temporary unless
// destinationOption names one), runs its installer and post-process script,
// and removes a temporary working directory. With wholeProcesses, each child
// is waited for until its process ends, not only its primary thread. Returns
// the exit code that reports the outcome (install/outcome.h).
unsigned long InstallPackage(const char* destinationOption, int wholeProcesses);
