// Option search over the command-line copy.
#pragma once

#include "common/wide_char.h"

// 1 when the option letter (searched as "-X", "-x", "/X", "/x", in that order,
// as plain substrings anywhere in commandLine) is present, else 0. With a
// value buffer (a zero-filled area of PathBufferSize bytes), it receives the
// option's value: the text after the letter up to the first space outside
// double quotes, quotes included, cut to PathBufferSize - 1 characters.
int FindOption(const char* commandLine, char letter, char* value);
// The same over the wide copy of the command line.
int FindOption(const WideChar* commandLine, char letter, WideChar* value);

// 1 when the option is present and no space outside double quotes ends its
// value before the end of commandLine. In a command line that was cut short,
// such a value may have been cut short too.
int OptionValueRunsToEnd(const char* commandLine, char letter);
int OptionValueRunsToEnd(const WideChar* commandLine, char letter);

// Where the option was found: the place of its "-" or "/" in commandLine, 1
// for the first character; 0 when the option is absent.
int OptionPosition(const char* commandLine, char letter);
int OptionPosition(const WideChar* commandLine, char letter);
