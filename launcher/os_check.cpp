// The operating-system support check: one version tag per call.
#include "launcher/os_check.h"

#include <string.h>
#include <windows.h>

#include "launcher/tags.h"
#include "launcher/version_table.h"

int CheckOperatingSystem() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    // On failure the record stays zero, version 0.0, which no row supports.
    (void)GetVersionExA(&version);

    SYSTEM_INFO system;
    memset(&system, 0, sizeof system);
    GetSystemInfo(&system);

    const char* tag =
        VersionTagFor(version.dwMajorVersion, version.dwMinorVersion, system.wProcessorArchitecture);
    return tag != nullptr ? IsTagPresent(tag) : 0;
}
