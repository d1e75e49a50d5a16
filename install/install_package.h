// The installation sequence the entry flow hands over to.
#pragma once

// Extracts the package into the working directory (temporary unless
// destinationOption names one), runs its installer and post-process script,
// and removes a temporary working directory. Returns 1.
int InstallPackage(const char* destinationOption);
