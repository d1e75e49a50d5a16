// A package's return codes in each deployment agent's own format.
#include "tools/pack/commands/return_codes.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

namespace {

// What the formats call each kind.
struct KindNames {
    const char* Text;
    const char* Intune;     // Microsoft Graph's win32LobAppReturnCodeType
    const char* ConfigMgr;  // the console's Code Type
    const char* Winget;     // ReturnResponse, for a code winget does not count as success
};

const KindNames Kinds[] = {
    {"success", "success", "Success", nullptr},
    {"soft reboot", "softReboot", "Soft Reboot", "rebootRequiredToFinish"},
    {"hard reboot", "hardReboot", "Hard Reboot", "rebootInitiated"},
    {"failure", "failed", "Failure", "custom"},
};

// The failures that winget has a response of its own for.
const struct {
    unsigned long Code;
    const char* Response;
} WingetResponses[] = {
    {1633, "systemNotSupported"},
    {87, "invalidParameter"},
};

// The installer's documented codes, each row's code left to fill in.
const ExitCodeRow DocumentedSuccess = {0, CodeSuccess, "installer: success",
                                       "SETUP.EXE's own success code, as its documentation gives it"};
const ExitCodeRow DocumentedReboot = {0, CodeSoftReboot, "installer: restart required",
                                      "SETUP.EXE's own code for a success that a restart finishes"};

// Codes as the agents take them: 32-bit signed.
std::string Signed(unsigned long code) {
    return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(code)));
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

const char* WingetResponse(const ExitCodeRow& row) {
    for (const auto& known : WingetResponses) {
        if (known.Code == row.Code) {
            return known.Response;
        }
    }
    return Kinds[row.Kind].Winget;
}

// Adds the installer's documented codes of one kind; problem names a clash.
bool AddDocumented(const std::vector<unsigned long>& codes, const ExitCodeRow& documented, const char* option,
                   const std::vector<unsigned long>& other, ReturnCodes& result, std::string& problem) {
    for (unsigned long code : codes) {
        if (std::find(other.begin(), other.end(), code) != other.end()) {
            problem = Signed(code) + " is given to both --success and --reboot";
            return false;
        }
        const ExitCodeRow* known = FindExitCode(result.Rows.data(), result.Rows.size(), code);
        if (known == nullptr) {
            ExitCodeRow row = documented;
            row.Code = code;
            result.Rows.push_back(row);
        } else if (known->Kind != documented.Kind &&
                   !(documented.Kind == CodeSoftReboot && known->Kind == CodeHardReboot)) {
            problem = std::string(option) + " " + Signed(code) +
                      " contradicts setup.exe's own code: " + Signed(code) + " " + known->Name + ", a " +
                      Kinds[known->Kind].Text;
            return false;
        }
    }
    return true;
}

std::string Notes(const ReturnCodes& codes, const char* agent) {
    if (codes.Outcome) {
        return std::string("any other code is ") + ExitCodePassedThrough + ": " + agent +
               " counts it as a failure; add the installer's documented codes with --success CODE,... "
               "and --reboot CODE,...\n";
    }
    return std::string(
               "without exitcode.tag, 0 (a refusal or the usage box: nothing installed) is a failure that an "
               "agent cannot tell from success, and setup.exe ends with 1 whatever SETUP.EXE did; add "
               "exitcode.tag (and log.tag) for deployments through an agent\n") +
           (std::string(agent) == "winget"
                ? "winget counts 0 as success and takes no other kind for it\n"
                : std::string(agent) +
                      "'s default return codes count 0 as success: replace them with these\n");
}

std::string Text(const ReturnCodes& codes) {
    std::string text = codes.Outcome ? "exit codes of setup.exe with exitcode.tag:\n"
                                     : "exit codes of setup.exe without exitcode.tag:\n";
    char line[64];
    for (const ExitCodeRow& row : codes.Rows) {
        (void)snprintf(line, sizeof line, "  %-6s %-12s ", Signed(row.Code).c_str(), Kinds[row.Kind].Text);
        text += line + std::string(row.Name) + ": " + row.Meaning + "\n";
    }
    if (codes.Outcome) {
        (void)snprintf(line, sizeof line, "  %-6s %-12s ", "other", "unknown");
        text += line + std::string("passed through: ") + ExitCodePassedThrough +
                "; add its documented codes with --success CODE,... and --reboot CODE,...\n";
    } else {
        text +=
            "0 is a failure that an agent cannot tell from success: add exitcode.tag (and log.tag) for "
            "deployments through an agent\n";
    }
    return text;
}

std::string Intune(const ReturnCodes& codes) {
    std::string json = "[\n";
    for (size_t i = 0; i < codes.Rows.size(); ++i) {
        const ExitCodeRow& row = codes.Rows[i];
        json += "  {\"returnCode\": " + Signed(row.Code) + ", \"type\": \"" + Kinds[row.Kind].Intune + "\"}" +
                (i + 1 < codes.Rows.size() ? ",\n" : "\n");
    }
    return json + "]\n";
}

std::string ConfigMgr(const ReturnCodes& codes) {
    std::string csv = "Return Code,Code Type,Name,Description\n";
    for (const ExitCodeRow& row : codes.Rows) {
        csv += Signed(row.Code) + "," + Kinds[row.Kind].ConfigMgr + "," + CsvField(row.Name) + "," +
               CsvField(row.Meaning) + "\n";
    }
    return csv;
}

// winget counts 0 as success of its own and takes no entry for it; a
// restart code is an expected code, so that winget tells of the restart.
std::string Winget(const ReturnCodes& codes) {
    std::string success;
    std::string expected;
    for (const ExitCodeRow& row : codes.Rows) {
        if (row.Code == 0) {
            continue;
        }
        if (row.Kind == CodeSuccess) {
            success += "  - " + Signed(row.Code) + "\n";
        } else {
            expected += "  - InstallerReturnCode: " + Signed(row.Code) +
                        "\n    ReturnResponse: " + WingetResponse(row) + "\n";
        }
    }
    return (success.empty() ? "" : "InstallerSuccessCodes:\n" + success) +
           (expected.empty() ? "" : "ExpectedReturnCodes:\n" + expected);
}

}  // namespace

bool ReadReturnCodeFormat(const std::string& name, ReturnCodeFormat& format) {
    const struct {
        const char* Name;
        ReturnCodeFormat Format;
    } formats[] = {{"text", ReturnCodeFormat::Text},
                   {"intune", ReturnCodeFormat::Intune},
                   {"configmgr", ReturnCodeFormat::ConfigMgr},
                   {"winget", ReturnCodeFormat::Winget}};
    for (const auto& known : formats) {
        if (name == known.Name) {
            format = known.Format;
            return true;
        }
    }
    return false;
}

bool ReadCodeList(const std::string& text, std::vector<unsigned long>& codes, std::string& problem) {
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, end - start);
        const bool negative = !part.empty() && part[0] == '-';
        const bool hex = part.compare(negative ? 1 : 0, 2, "0x") == 0;
        const std::string digits = part.substr((negative ? 1 : 0) + (hex ? 2 : 0));
        const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
        const unsigned long long value =
            digits.empty() || digits.size() > 10 || digits.find_first_not_of(allowed) != std::string::npos
                ? UINT64_MAX
                : strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
        if (value > (negative ? 0x80000000ULL : 0xFFFFFFFFULL)) {
            problem = "'" + part + "' is not an exit code (0 to 4294967295, or -2147483648 to -1)";
            return false;
        }
        codes.push_back(static_cast<unsigned long>(static_cast<uint32_t>(negative ? 0 - value : value)));
        if (end == text.size()) {
            return true;
        }
        start = end + 1;
    }
}

bool PackageReturnCodes(bool outcome, const std::vector<unsigned long>& success,
                        const std::vector<unsigned long>& reboot, ReturnCodes& codes, std::string& problem) {
    codes.Outcome = outcome;
    const ExitCodeRow* rows = outcome ? OutcomeExitCodes : PlainExitCodes;
    codes.Rows.assign(rows, rows + (outcome ? OutcomeExitCodeCount : PlainExitCodeCount));
    if (!outcome && !(success.empty() && reboot.empty())) {
        problem =
            "--success and --reboot need exitcode.tag: without it setup.exe ends with 1 whatever SETUP.EXE "
            "did";
        return false;
    }
    return AddDocumented(success, DocumentedSuccess, "--success", reboot, codes, problem) &&
           AddDocumented(reboot, DocumentedReboot, "--reboot", success, codes, problem);
}

std::string FormatReturnCodes(const ReturnCodes& codes, ReturnCodeFormat format, std::string& notes) {
    notes.clear();
    switch (format) {
        case ReturnCodeFormat::Intune:
            notes = Notes(codes, "Intune");
            return Intune(codes);
        case ReturnCodeFormat::ConfigMgr:
            notes = Notes(codes, "ConfigMgr");
            return ConfigMgr(codes);
        case ReturnCodeFormat::Winget:
            notes = Notes(codes, "winget");
            return Winget(codes);
        case ReturnCodeFormat::Text:
            break;
    }
    return Text(codes);
}

std::string ExitCodeSummary(bool outcome) {
    std::string line = outcome ? "the outcome (exitcode.tag): " : "";
    const ExitCodeRow* rows = outcome ? OutcomeExitCodes : PlainExitCodes;
    const size_t count = outcome ? OutcomeExitCodeCount : PlainExitCodeCount;
    for (size_t i = 0; i < count; ++i) {
        line += (i == 0 ? "" : "; ") + Signed(rows[i].Code) + " " + rows[i].Name;
    }
    return line + (outcome ? "; any other the installer's own (pack show DIR --return-codes text)"
                           : " (an agent reads 0 as success: add exitcode.tag)");
}
