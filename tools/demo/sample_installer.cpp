// The demo package's installer (shipped in package.zip as SETUP.EXE): copies
// the package's files into "C:\Program Files\Sample App" and leaves an
// uninstall note there. "-s" anywhere on the command line means unattended;
// otherwise it says "installed" in a box.
#include <windows.h>

#include "common/text.h"

static const char TargetDirectory[] = "C:\\Program Files\\Sample App";
static const char* const PackageFiles[] = {"readme.txt", "sample.ini", "bin\\sample-tool.txt"};

// The directory this program runs from: where the launcher extracted the package.
static int GetOwnDirectory(char (&directory)[MAX_PATH]) {
    const DWORD length = GetModuleFileNameA(nullptr, directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 0;
    }
    char* slash = nullptr;
    for (char* c = directory; *c != '\0'; ++c) {
        if (*c == '\\') {
            slash = c;
        }
    }
    if (slash == nullptr) {
        return 0;
    }
    *slash = '\0';
    return 1;
}

static int WriteNote(const char* path, const char* text) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD written = 0;
    const DWORD length = lstrlenA(text);
    const BOOL wrote = WriteFile(file, text, length, &written, nullptr);
    CloseHandle(file);
    return wrote && written == length;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    const int silent = ContainsText(commandLine, "-s") || ContainsText(commandLine, "/qn");
    char source[MAX_PATH];
    char from[MAX_PATH];
    char to[MAX_PATH];
    char note[1024];
    if (!GetOwnDirectory(source)) {
        return 2;
    }
    // Program Files itself exists on every Windows; the tree below it is ours.
    CreateDirectoryA(TargetDirectory, nullptr);
    FormatText(to, sizeof to, "%s\\bin", TargetDirectory);
    CreateDirectoryA(to, nullptr);
    int failures = 0;
    for (const char* name : PackageFiles) {
        if (!FormatText(from, sizeof from, "%s\\files\\%s", source, name) ||
            !FormatText(to, sizeof to, "%s\\%s", TargetDirectory, name) || !CopyFileA(from, to, FALSE)) {
            ++failures;
        }
    }
    FormatText(to, sizeof to, "%s\\uninstall.txt", TargetDirectory);
    FormatText(note, sizeof note,
               "Sample App 1.0 was installed here (%s) from %s.\r\n"
               "To uninstall it, delete the folder %s.\r\n",
               silent ? "unattended" : "interactively", source, TargetDirectory);
    if (!WriteNote(to, note)) {
        ++failures;
    }
    if (!silent) {
        MessageBoxA(nullptr,
                    failures == 0 ? "Sample App 1.0 is installed." : "Sample App 1.0 is not fully installed.",
                    "Sample App Setup", MB_OK);
    }
    return failures == 0 ? 0 : 1;
}
