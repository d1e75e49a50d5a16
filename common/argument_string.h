// The argument string a GUI entry point receives.
#pragma once

#include "common/wide_char.h"

// The part of a full command line after the program name: the name is one
// token, in double quotes or up to the first blank, and the blanks after it
// are skipped too. Never returns nullptr for a non-null input.
const char* SkipProgramName(const char* commandLine);
const WideChar* SkipProgramName(const WideChar* commandLine);
