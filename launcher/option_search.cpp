// Option search over the command-line copy: plain substring search, value up to the first unquoted space.
#include "launcher/option_search.h"

#include "common/run_state.h"
#include "common/text.h"

// The same search serves the ANSI copy and the wide one: every character it
// looks for is ASCII, so each is compared as a code unit.
template <typename Char>
static Char UpperCase(char letter) {
    return static_cast<Char>(letter >= 'a' && letter <= 'z' ? letter - 'a' + 'A' : letter);
}

template <typename Char>
static Char LowerCase(char letter) {
    return static_cast<Char>(letter >= 'A' && letter <= 'Z' ? letter - 'A' + 'a' : letter);
}

// The character right after the option letter, or nullptr when the option is
// absent. The search deliberately ignores token boundaries, so "-dC:\pkg-store"
// also carries -s, and each pattern is tried over the whole command line
// before the next: "-dC:\My-Data" finds "-D" inside the path first.
template <typename Char>
static const Char* FindOptionValueStart(const Char* commandLine, char letter) {
    const Char prefixes[2] = {'-', '/'};
    const Char letters[2] = {UpperCase<Char>(letter), LowerCase<Char>(letter)};
    for (Char prefix : prefixes) {
        for (Char variant : letters) {
            const Char pattern[2] = {prefix, variant};
            for (const Char* p = commandLine; *p != 0 && p[1] != 0; ++p) {
                if (p[0] == pattern[0] && p[1] == pattern[1]) {
                    return p + 2;
                }
            }
        }
    }
    return nullptr;
}

// The first space outside double quotes at or after start, or the terminator.
template <typename Char>
static const Char* FindValueEnd(const Char* start) {
    int inQuote = 0;
    const Char* p = start;
    for (; *p != 0; ++p) {
        if (*p == '"') {
            inQuote = !inQuote;
        } else if (*p == ' ' && !inQuote) {
            break;
        }
    }
    return p;
}

template <typename Char>
static int FindOptionIn(const Char* commandLine, char letter, Char* value) {
    const Char* start = FindOptionValueStart(commandLine, letter);
    if (start == nullptr) {
        return 0;
    }
    if (value == nullptr) {
        return 1;
    }
    const Char* end = FindValueEnd(start);
    // The command-line copy is no larger than the value buffer, so this bound
    // only guards callers that pass a longer command line.
    size_t length = 0;
    for (const Char* p = start; p < end && length + 1 < PathBufferSize; ++p) {
        value[length++] = *p;
    }
    value[length] = 0;
    return 1;
}

template <typename Char>
static int RunsToEnd(const Char* commandLine, char letter) {
    const Char* start = FindOptionValueStart(commandLine, letter);
    return start != nullptr && *FindValueEnd(start) == 0 ? 1 : 0;
}

template <typename Char>
static int PositionOf(const Char* commandLine, char letter) {
    const Char* start = FindOptionValueStart(commandLine, letter);
    return start != nullptr ? static_cast<int>(start - commandLine) - 1 : 0;
}

int FindOption(const char* commandLine, char letter, char* value) {
    return FindOptionIn(commandLine, letter, value);
}

int FindOption(const WideChar* commandLine, char letter, WideChar* value) {
    return FindOptionIn(commandLine, letter, value);
}

int OptionValueRunsToEnd(const char* commandLine, char letter) {
    return RunsToEnd(commandLine, letter);
}

int OptionValueRunsToEnd(const WideChar* commandLine, char letter) {
    return RunsToEnd(commandLine, letter);
}

int OptionPosition(const char* commandLine, char letter) {
    return PositionOf(commandLine, letter);
}

int OptionPosition(const WideChar* commandLine, char letter) {
    return PositionOf(commandLine, letter);
}
