// Which version tag a Windows version needs: first matching row wins.
#include "launcher/version_table.h"

enum { ArchitectureAmd64 = 9 };  // PROCESSOR_ARCHITECTURE_AMD64

const char* VersionTagFor(unsigned major, unsigned minor, unsigned architecture) {
    if (major == 4) {
        // The platform identifier is not consulted: 4.10 counts as version 4 too.
        return "nt4.tag";
    }
    if (major == 5 && minor == 0) {
        return "w2k.tag";
    }
    if (major == 5 && minor == 1) {
        return "wxp.tag";
    }
    if (major == 5 && minor == 2) {
        // A 32-bit program on 64-bit Windows is told x86, so it needs s23.tag.
        return architecture == ArchitectureAmd64 ? "x64.tag" : "s23.tag";
    }
    if (major == 6) {
        return "vst.tag";
    }
    return nullptr;
}
