// pack check: a package directory checked for what the launcher and the
// extractor need.
#pragma once

#include <string>

// Checks a package directory; the report calls it shownAs when that is
// given; signatures' chains are checked against the CA certificates in ca
// when given. Returns the exit status: 0 no errors, 1 errors found.
int CheckPackage(const std::string& directory, const std::string& shownAs = "", const std::string& ca = "");
