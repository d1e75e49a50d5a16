// Composition of the working directory and the child programs' command lines.
#include "install/command_lines.h"

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

int ChooseDestination(const char* option, const char* tempPath, char* destination, size_t size,
                      int* temporary) {
    *temporary = 0;
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
