// The extractor run in its listing and test modes, its output read as UTF-8.
#include "tools/pack/host/extractor.h"

#include <stdio.h>

#include "tools/pack/formats/extractor_report.h"
#include "tools/pack/host/files.h"
#include "tools/pack/host/processes.h"

std::string ArchiveLister(const std::string& packageDirectory) {
    (void)packageDirectory;
#ifdef _WIN32
    // The kit's own, beside pack.exe: never the checked package's, whose
    // code checking it must not run.
    return JoinPath(ProgramDirectory(), "unzip.exe");
#else
    return "unzip";
#endif
}

// Runs the extractor in one mode over the archive; printed is its standard
// output as UTF-8.
static int RunExtractor(const std::string& packageDirectory, const char* mode, const std::string& archive,
                        std::string& printed) {
    // The report so far goes out before the extractor's own messages.
    (void)fflush(stdout);
    ChildRun run;
    run.Program = ArchiveLister(packageDirectory);
    run.Args = {mode, AnsiSpelling(archive)};
    run.Output = &printed;
    run.TextOutput = true;
    return RunChild(run);
}

int ListArchive(const std::string& packageDirectory, const std::string& archive,
                std::vector<std::string>& names) {
    std::string listing;
    const int status = RunExtractor(packageDirectory, "-Z1", archive, listing);
    if (status < 0) {
        return -1;
    }
    names = ListingNames(listing);
    return status;
}

int TestArchive(const std::string& packageDirectory, const std::string& archive, std::string& report) {
    return RunExtractor(packageDirectory, "-t", archive, report);
}
