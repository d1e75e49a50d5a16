// Wide path reads spelled in ANSI, with the ANSI reads of old as the fallback.
#include "common/ansi_path.h"

#include <windows.h>

#include "common/argument_string.h"
#include "common/library_function.h"
#include "common/message_box.h"
#include "common/run_state.h"
#include "common/text.h"

// A kernel32 function, looked up by name (nullptr when the system lacks it);
// the caller casts it to its type with AsFunction. Not inlined, so that the
// library's name is referred to once.
__attribute__((noinline)) static FARPROC KernelFunction(const char* name) {
    return LibraryFunction("kernel32.dll", name);
}

static int ToAnsi(const WideChar* wide, char* ansi, size_t size) {
    // Both conversions count the terminator and fail when it does not fit.
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, static_cast<int>(size), nullptr, nullptr) > 0 ? 1
                                                                                                        : 0;
}

static int ToWide(const char* ansi, WideChar* wide, size_t size) {
    return MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, static_cast<int>(size)) > 0 ? 1 : 0;
}

static int ShortForm(const WideChar* path, WideChar* shortPath, size_t size) {
    typedef DWORD(WINAPI * Function)(LPCWSTR, LPWSTR, DWORD);
    Function shortName = AsFunction<Function>(KernelFunction("GetShortPathNameW"));
    if (shortName == nullptr) {
        return 0;
    }
    DWORD length = shortName(path, shortPath, static_cast<DWORD>(size));
    return length != 0 && length < size ? 1 : 0;
}

static const PathCodec WindowsCodec = {ToAnsi, ToWide, ShortForm};

// A getter's result: the length written, or the size it needed (0 on failure).
static int Fits(DWORD length) {
    return length != 0 && length < PathBufferSize ? 1 : 0;
}

// The ANSI spelling of a path a wide getter read (length as it returned it).
static int Spell(DWORD length, const WideChar* wide, const char* what, char* path) {
    path[0] = '\0';
    if (Fits(length) == 0) {
        return 0;
    }
    if (ChooseAnsiForm(wide, WindowsCodec, path, PathBufferSize) == NoUsableForm) {
        char text[96];
        (void)FormatText(text, sizeof text, "%s has no ANSI name within MAX_PATH; not used.", what);
        ShowDiagnostic(text, ShortTitle);
        return 0;
    }
    return 1;
}

// The ANSI getter's result, as the program always took it.
static int Take(DWORD length, char* path) {
    if (Fits(length) == 0) {
        path[0] = '\0';
        return 0;
    }
    return 1;
}

int ReadProgramPath(char* path) {
    typedef DWORD(WINAPI * Function)(HMODULE, LPWSTR, DWORD);
    Function wideRead = AsFunction<Function>(KernelFunction("GetModuleFileNameW"));
    WideChar wide[PathBufferSize];
    // A path that fills the buffer comes back cut and, on some systems,
    // unterminated: its length equals the size, which Fits refuses.
    DWORD length = wideRead != nullptr ? wideRead(nullptr, wide, PathBufferSize) : 0;
    if (length != 0) {
        return Spell(length, wide, "Program path", path);
    }
    return Take(GetModuleFileNameA(nullptr, path, PathBufferSize), path);
}

// A directory getter of the (size, buffer) kind: the wide one by name, else
// the ANSI one.
typedef DWORD(WINAPI* AnsiDirectoryGetter)(DWORD, LPSTR);

static int ReadDirectory(const char* wideName, AnsiDirectoryGetter ansiRead, const char* what, char* path) {
    typedef DWORD(WINAPI * Function)(DWORD, LPWSTR);
    Function wideRead = AsFunction<Function>(KernelFunction(wideName));
    WideChar wide[PathBufferSize];
    DWORD length = wideRead != nullptr ? wideRead(PathBufferSize, wide) : 0;
    if (length != 0) {
        return Spell(length, wide, what, path);
    }
    return Take(ansiRead(PathBufferSize, path), path);
}

int ReadCurrentDirectory(char* directory) {
    return ReadDirectory("GetCurrentDirectoryW", GetCurrentDirectoryA, "Current directory", directory);
}

int ReadTempPath(char* path) {
    // Where the system has it, the base that keeps a process of SYSTEM out of
    // the temporary directory every user may write to.
    const char* wideName = KernelFunction("GetTempPath2W") != nullptr ? "GetTempPath2W" : "GetTempPathW";
    return ReadDirectory(wideName, GetTempPathA, "Temporary directory", path);
}

int CreateSpelledDirectory(const WideChar* wide, char* path) {
    path[0] = '\0';
    typedef BOOL(WINAPI * Function)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    Function create = AsFunction<Function>(KernelFunction("CreateDirectoryW"));
    DWORD length = 0;
    while (length < PathBufferSize && wide[length] != 0) {
        ++length;
    }
    if (create == nullptr || Fits(length) == 0) {
        return 0;
    }
    // The result does not matter: only a directory that exists, made now or
    // before, has a short form to fall back on. Missing parents are not made.
    (void)create(wide, nullptr);
    return Spell(length, wide, "Output directory", path);
}

void SpellForDisplay(const WideChar* wide, char* text, size_t size) {
    if (size == 0 || ChooseAnsiForm(wide, WindowsCodec, text, size) != NoUsableForm) {
        return;
    }
    // Without best fit every letter the code page lacks becomes '?'. The
    // 4.x family and NT 4 know no such flag: there the plain conversion.
    int size32 = static_cast<int>(size);
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, text, size32, nullptr, nullptr) == 0 &&
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, size32, nullptr, nullptr) == 0) {
        text[size - 1] = '\0';  // cut: shown as far as it goes
    }
}

int ReadWideArguments(WideChar* arguments, int* complete) {
    typedef LPWSTR(WINAPI * Function)();
    Function wideRead = AsFunction<Function>(KernelFunction("GetCommandLineW"));
    const WideChar* line = wideRead != nullptr ? wideRead() : nullptr;
    arguments[0] = 0;
    *complete = 1;
    // A command line holds at least the program's name: an empty one is a
    // stub's answer.
    if (line == nullptr || line[0] == 0) {
        return 0;
    }
    const WideChar* p = SkipProgramName(line);
    size_t length = 0;
    for (; p[length] != 0 && length + 1 < PathBufferSize; ++length) {
        arguments[length] = p[length];
    }
    arguments[length] = 0;
    *complete = p[length] == 0 ? 1 : 0;
    return 1;
}

int SpellRoundTrip(const WideChar* wide, char* text, size_t size) {
    if (RoundTrips(wide, WindowsCodec, text, size) == 0) {
        if (size != 0) {
            text[0] = '\0';
        }
        return 0;
    }
    return 1;
}
