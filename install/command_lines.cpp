// Composition of the working directory and the child programs' command lines.
#include "install/command_lines.h"

#include "common/run_state.h"
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
        fits &= AppendText(commandLine, size, "\"");
    }
    return fits;
}

// Copies option into unquoted without its double quotes. A path with spaces
// reaches the D option only in double quotes, and the option's value keeps
// them; no Windows name can hold one, and a working directory written with
// them is neither created nor accepted as a directory to run the installer
// from, so they are dropped here, as the C runtime drops them from an
// argument. Returns 0 when the rest does not fit.
static int RemoveQuotes(const char* option, char* unquoted, size_t size) {
    size_t length = 0;
    for (const char* p = option; *p != '\0'; ++p) {
        if (*p == '"') {
            continue;
        }
        if (length + 1 >= size) {
            unquoted[0] = '\0';
            return 0;
        }
        unquoted[length++] = *p;
    }
    unquoted[length] = '\0';
    return 1;
}

int ChooseDestination(const char* quotedOption, const char* tempPath, char* destination, size_t size,
                      int* temporary) {
    *temporary = 0;
    char option[PathBufferSize];
    if (RemoveQuotes(quotedOption, option, sizeof option) == 0) {
        CopyText(destination, size, "");
        return 0;
    }
    // A value of nothing but quotes names no directory: as if it were empty.
    if (option[0] == '\0') {
        *temporary = 1;
        if (tempPath == nullptr) {
            CopyText(destination, size, "");
            return 0;
        }
        // The temporary path ends in a backslash already.
        return FormatText(destination, size, "%sQUILLER", tempPath);
    }
    if (ContainsText(option, ":") != 0) {
        return CopyText(destination, size, option);
    }
    return FormatText(destination, size, "C:\\%s", option);
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
