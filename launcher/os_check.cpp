// The operating-system support check: one version tag per call.
#include "launcher/os_check.h"

#include <string.h>
#include <windows.h>

#include "common/run_log.h"
#include "common/run_state.h"
#include "common/text.h"
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
    int present = tag != nullptr ? IsTagPresent(tag) : 0;
    // What was found and tested, for the log: why a package was refused.
    char text[128];
    (void)FormatText(
        text, sizeof text, "Windows %u.%u, platform %u, architecture %u; %s: %i",
        static_cast<unsigned>(version.dwMajorVersion), static_cast<unsigned>(version.dwMinorVersion),
        static_cast<unsigned>(version.dwPlatformId), static_cast<unsigned>(system.wProcessorArchitecture),
        tag != nullptr ? tag : "none", present);
    LogEvent(ShortTitle, text);
    return present;
}
