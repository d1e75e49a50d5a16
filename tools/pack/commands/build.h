// pack build: a package directory made from an installer folder in one step.
#pragma once

#include <string>
#include <vector>

#include "tools/pack/commands/signing.h"

struct BuildRequest {
    std::string InstallerDirectory;  // holds SETUP.EXE at its root
    std::string OutputDirectory;
    std::vector<std::string> Tags;
    bool Msi = false;          // add msi.tag as a file
    bool TagsAsFiles = false;  // tag files instead of lines appended to setup.exe
    bool Force = false;        // replace an output directory that is not empty
    std::string Kit;           // where setup.exe, unzip.exe (and zip.exe) are; "" beside pack
    std::string Setup;         // setup.exe to use instead of the kit's
    std::string Unzip;         // unzip.exe to use instead of the kit's
    SigningRequest Signing;    // sign setup.exe and unzip.exe, before the tags are stamped
};

// Writes the package aside, checks it as 'pack check' does and moves it into
// place; on any refusal or error nothing is left behind. Returns the exit
// status: 0 built, 1 refused or failed.
int BuildPackage(const BuildRequest& request);
