// Removal of the temporary working directory.
#pragma once

// Removes directory (no trailing backslash) and everything in it, as far as
// the platform allows. Returns 1.
int RemoveDirectoryTree(const char* directory);
