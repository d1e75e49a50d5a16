// pack show: what the launcher will see of a package.
#pragma once

#include <string>
#include <vector>

#include "tools/pack/commands/return_codes.h"

// What the launcher will see of a package directory or executable, and the
// executables' signatures (their chains checked against ca when given).
// Returns the exit status: 0 shown, 1 not readable.
int ShowPackage(const std::string& target, const std::string& ca = "");

// The package's return codes in format, with the installer's documented
// success and restart codes: to standard output, and what the format cannot
// carry to standard error.
int ShowReturnCodes(const std::string& target, ReturnCodeFormat format,
                    const std::vector<unsigned long>& success, const std::vector<unsigned long>& reboot);
