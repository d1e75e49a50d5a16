// Which version tag a Windows version needs.
#pragma once

// The tag a package must carry to install on this version and processor
// architecture (as GetSystemInfo reports it to the program), or nullptr when
// the version is never supported.
const char* VersionTagFor(unsigned major, unsigned minor, unsigned architecture);
