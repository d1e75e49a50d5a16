// Option search over the command-line copy: plain substring search, value up to the first unquoted space.
#include "launcher/option_search.h"

#include "common/run_state.h"
#include "common/text.h"

static char UpperCase(char letter) {
    return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

static char LowerCase(char letter) {
    return letter >= 'A' && letter <= 'Z' ? static_cast<char>(letter - 'A' + 'a') : letter;
}

// The character right after the option letter, or nullptr when the option is
// absent. The search deliberately ignores token boundaries, so "-dC:\pkg-store"
// also carries -s, and each pattern is tried over the whole command line
// before the next: "-dC:\My-Data" finds "-D" inside the path first.
static const char* FindOptionValueStart(const char* commandLine, char letter) {
    const char prefixes[2] = {'-', '/'};
    const char letters[2] = {UpperCase(letter), LowerCase(letter)};
    for (char prefix : prefixes) {
        for (char variant : letters) {
            const char pattern[3] = {prefix, variant, '\0'};
            for (const char* p = commandLine; *p != '\0' && p[1] != '\0'; ++p) {
                if (p[0] == pattern[0] && p[1] == pattern[1]) {
                    return p + 2;
                }
            }
        }
    }
    return nullptr;
}

// The first space outside double quotes at or after start, or the terminator.
static const char* FindValueEnd(const char* start) {
    int inQuote = 0;
    const char* p = start;
    for (; *p != '\0'; ++p) {
        if (*p == '"') {
            inQuote = !inQuote;
        } else if (*p == ' ' && !inQuote) {
            break;
        }
    }
    return p;
}

int FindOption(const char* commandLine, char letter, char* value) {
    const char* start = FindOptionValueStart(commandLine, letter);
    if (start == nullptr) {
        return 0;
    }
    if (value == nullptr) {
        return 1;
    }
    const char* end = FindValueEnd(start);
    // The command-line copy is no larger than the value buffer, so this bound
    // only guards callers that pass a longer command line.
    size_t length = 0;
    for (const char* p = start; p < end && length + 1 < PathBufferSize; ++p) {
        value[length++] = *p;
    }
    value[length] = '\0';
    return 1;
}

int OptionValueRunsToEnd(const char* commandLine, char letter) {
    const char* start = FindOptionValueStart(commandLine, letter);
    return start != nullptr && *FindValueEnd(start) == '\0' ? 1 : 0;
}
