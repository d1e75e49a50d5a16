// The processes that carry on an installation, and how long they ran.
#include "install/child_wait.h"

#include "common/text.h"

static char FoldCase(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// 1 when path lies below directory: the directory's whole name, then a
// backslash in path.
static int LiesIn(const char* path, const char* directory) {
    if (directory == nullptr || directory[0] == '\0') {
        return 0;
    }
    for (; *directory != '\0'; ++directory, ++path) {
        if (FoldCase(*directory) != FoldCase(*path)) {
            return 0;
        }
    }
    return directory[-1] == '\\' || *path == '\\' ? 1 : 0;
}

const char* ProgramFileName(const char* path) {
    const char* name = path;
    for (; *path != '\0'; ++path) {
        if (*path == '\\') {
            name = path + 1;
        }
    }
    return name;
}

// 1 when name is upper (in capitals) but for the case of its letters.
static int IsName(const char* name, const char* upper) {
    for (; *upper != '\0'; ++name, ++upper) {
        if (FoldCase(*name) != *upper) {
            return 0;
        }
    }
    return *name == '\0' ? 1 : 0;
}

int LiesInInstallationLocation(const char* program, const InstallationLocations& locations) {
    int lies = IsName(ProgramFileName(program), "MSIEXEC.EXE");
    for (const char* directory : locations.Directories) {
        lies |= LiesIn(program, directory);
    }
    return lies;
}

int DescribeRunTime(unsigned long milliseconds, char* text, size_t size) {
    return FormatText(text, size, "ran for %u.%u s", static_cast<unsigned>(milliseconds / 1000),
                      static_cast<unsigned>(milliseconds % 1000 / 100));
}

int DescribeRanOn(unsigned count, unsigned long milliseconds, const char* names, char* text, size_t size) {
    return FormatText(text, size, "%u process%s it started ran on for %u.%u s: %s", count,
                      count == 1 ? "" : "es", static_cast<unsigned>(milliseconds / 1000),
                      static_cast<unsigned>(milliseconds % 1000 / 100), names);
}
