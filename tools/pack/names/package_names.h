// The names of a package's own files, and of the installer's files the
// launcher runs from the archive's root.
#pragma once

extern const char ExecutableName[];   // setup.exe, the launcher
extern const char ExtractorName[];    // unzip.exe
extern const char ArchiveName[];      // package.zip
extern const char InstallerName[];    // SETUP.EXE, the installer at the archive's root
extern const char PostProcessName[];  // PostProcess.cmd, run after it
