// A package's return codes in the shape each deployment agent takes them:
// Intune's JSON, ConfigMgr's CSV, winget's manifest YAML, or a plain table,
// all from the launcher's one table of exit codes.
#pragma once

#include <string>
#include <vector>

#include "install/exit_codes.h"

enum class ReturnCodeFormat { Text, Intune, ConfigMgr, Winget };

// "text", "intune", "configmgr" or "winget"; false for anything else.
bool ReadReturnCodeFormat(const std::string& name, ReturnCodeFormat& format);

// A comma-separated list of exit codes, decimal or 0x hexadecimal, negative
// ones as 32-bit signed values; false, with the offending part in problem,
// for anything else.
bool ReadCodeList(const std::string& text, std::vector<unsigned long>& codes, std::string& problem);

struct ReturnCodes {
    bool Outcome = false;  // exitcode.tag: the installer's own codes pass through
    std::vector<ExitCodeRow> Rows;
};

// The package's codes: the launcher's table for it, and with exitcode.tag
// the installer's documented success and restart codes after them. False,
// with problem, when a code contradicts the table or the other list, or when
// codes are given for a package whose exit code never passes them through.
bool PackageReturnCodes(bool outcome, const std::vector<unsigned long>& success,
                        const std::vector<unsigned long>& reboot, ReturnCodes& codes, std::string& problem);

// The codes in format, ready to paste; notes gets what the format cannot
// carry, one line each (for text it is empty: the table says it all).
std::string FormatReturnCodes(const ReturnCodes& codes, ReturnCodeFormat format, std::string& notes);

// One line for pack show: each code and its name.
std::string ExitCodeSummary(bool outcome);
