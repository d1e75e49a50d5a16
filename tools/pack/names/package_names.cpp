// A package's file names, as the launcher looks for them (ignoring case).
#include "tools/pack/names/package_names.h"

const char ExecutableName[] = "setup.exe";
const char ExtractorName[] = "unzip.exe";
const char ArchiveName[] = "package.zip";
const char InstallerName[] = "SETUP.EXE";
const char PostProcessName[] = "PostProcess.cmd";
