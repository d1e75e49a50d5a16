// Composition of the working directory and the child programs' command lines.
#include "install/command_lines.h"

#include <string.h>

#include "common/text.h"

// CreateProcessA without an application name resolves an unquoted path with
// spaces by trying its prefixes, and the extractor would split an unquoted
// destination at the space; such a path goes in double quotes, unless it
// already starts with one. Paths without spaces stay exactly as they are.
static int NeedsQuotes(const char* path) {
    return path[0] != '"' && ContainsText(path, " ") != 0 ? 1 : 0;
}

// Appends directory followed by suffix (a fixed name without spaces) as one
// token, quoted when the directory needs it.
static int AppendPathToken(char* commandLine, size_t size, const char* directory, const char* suffix) {
    int fits = 1;
    int quoted = NeedsQuotes(directory);
    if (quoted != 0) {
        fits &= AppendText(commandLine, size, "\"");
    }
    fits &= AppendText(commandLine, size, directory);
    fits &= AppendText(commandLine, size, suffix);
    if (quoted != 0) {
        // The C runtime reads backslashes right before a double quote as
        // escapes: "C:\My Files\" would end in a quote character instead of
        // the token. Doubled, they stand for themselves.
        if (suffix[0] == '\0') {
            for (const char* p = directory + strlen(directory); p > directory && p[-1] == '\\'; --p) {
                fits &= AppendText(commandLine, size, "\\");
            }
        }
        fits &= AppendText(commandLine, size, "\"");
    }
    return fits;
}

// A path with spaces reaches the D option only in double quotes, and the
// option's value keeps them. No Windows name can hold one, and a working
// directory written with them is neither created nor accepted as a directory
// to run the installer from, so the working directory leaves them out, as the
// C runtime leaves them out of an argument.
static int HasUnquotedText(const char* option) {
    for (const char* p = option; *p != '\0'; ++p) {
        if (*p != '"') {
            return 1;
        }
    }
    return 0;
}

static int AppendUnquoted(char* destination, size_t size, const char* option) {
    int fits = 1;
    for (const char* p = option; *p != '\0'; ++p) {
        if (*p != '"') {
            const char character[2] = {*p, '\0'};
            fits &= AppendText(destination, size, character);
        }
    }
    return fits;
}

int ChooseDestination(const char* option, const char* tempPath, char* destination, size_t size,
                      int* temporary) {
    *temporary = 0;
    // A value of nothing but quotes names no directory: as if it were empty.
    if (HasUnquotedText(option) == 0) {
        *temporary = 1;
        if (tempPath == nullptr) {
            CopyText(destination, size, "");
            return 0;
        }
        // The temporary path ends in a backslash already.
        return FormatText(destination, size, "%sQUILLER", tempPath);
    }
    int fits = CopyText(destination, size, ContainsText(option, ":") != 0 ? "" : "C:\\");
    fits &= AppendUnquoted(destination, size, option);
    return fits;
}

int ComposeExtractorCommand(const char* source, const char* destination, char* commandLine, size_t size) {
    int fits = CopyText(commandLine, size, "");
    fits &= AppendPathToken(commandLine, size, source, "\\unzip.exe");
    fits &= AppendText(commandLine, size, " -o \"");
    fits &= AppendText(commandLine, size, source);
    fits &= AppendText(commandLine, size, "\\package.zip\" -d ");
    fits &= AppendPathToken(commandLine, size, destination, "");
    return fits;
}

int ComposeInstallerCommand(const char* destination, int silent, int msiTag, char* commandLine, size_t size) {
    int fits = CopyText(commandLine, size, "");
    fits &= AppendPathToken(commandLine, size, destination, "\\SETUP.EXE");
    if (silent != 0) {
        fits &= AppendText(commandLine, size, msiTag != 0 ? " /qn REBOOT=ReallySuppress" : " -s -SMS");
    }
    return fits;
}

int ComposePostProcess(const char* destination, char* path, size_t pathSize, char* commandLine,
                       size_t commandSize) {
    int fits = FormatText(path, pathSize, "%s\\PostProcess.cmd", destination);
    fits &= CopyText(commandLine, commandSize, "");
    fits &= AppendPathToken(commandLine, commandSize, destination, "\\PostProcess.cmd");
    return fits;
}

int ComposeWorkingDirectory(const char* tempPath, unsigned long suffix, char* destination, size_t size) {
    static const char Digits[] = "0123456789ABCDEF";
    char hex[9];
    for (int i = 7; i >= 0; --i) {
        hex[i] = Digits[suffix & 0xF];
        suffix >>= 4;
    }
    hex[8] = '\0';
    return FormatText(destination, size, "%sQUILLER-%s", tempPath, hex);
}

// Windows compares names without regard to case; letters beyond ASCII are
// compared as they are (a name's short form is ASCII where the volume keeps
// one).
static char FoldCase(char character) {
    return character >= 'a' && character <= 'z' ? static_cast<char>(character - 'a' + 'A') : character;
}

int DirectoryHolds(const char* outer, const char* inner) {
    size_t i = 0;
    while (outer[i] != '\0' && FoldCase(outer[i]) == FoldCase(inner[i])) {
        ++i;
    }
    // Past what both have in common, outer has at most backslashes left, and
    // inner ends or goes on below it.
    int below = inner[i] == '\0' || inner[i] == '\\' || (i > 0 && outer[i - 1] == '\\') ? 1 : 0;
    while (outer[i] == '\\') {
        ++i;
    }
    return outer[i] == '\0' ? below : 0;
}
