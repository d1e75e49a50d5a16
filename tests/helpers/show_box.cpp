// Test helper: shows message boxes described on its command line and exits with a given code.
//
//   show_box.exe [--self-close] TITLE TEXT [EXITCODE [TITLE TEXT]...]
//
// Shows MessageBoxA(NULL, TEXT, TITLE, MB_OK) for each pair in order and
// returns EXITCODE (default 0). A TEXT of the form %NAME% shows a value
// instead: %CD% the current directory, %VER% "major.minor.build platform"
// from GetVersionExA, any other NAME that environment variable, "(empty)" or
// "(unset)".
// With --self-close the first box is shown from a second thread, and the main
// thread closes it with WM_CLOSE about 500 ms after it has appeared.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct Box {
    const char* title;
    char text[4096];
};

static void ResolveText(const char* spec, char (&text)[4096]) {
    size_t length = strlen(spec);
    if (length < 3 || spec[0] != '%' || spec[length - 1] != '%') {
        snprintf(text, sizeof text, "%s", spec);
        return;
    }
    char name[256];
    snprintf(name, sizeof name, "%.*s", static_cast<int>(length - 2), spec + 1);
    if (strcmp(name, "CD") == 0) {
        DWORD got = GetCurrentDirectoryA(sizeof text, text);
        if (got == 0 || got >= sizeof text) {
            snprintf(text, sizeof text, "(error)");
        }
    } else if (strcmp(name, "VER") == 0) {
        OSVERSIONINFOA version;
        ZeroMemory(&version, sizeof version);
        version.dwOSVersionInfoSize = sizeof version;
        GetVersionExA(&version);
        snprintf(text, sizeof text, "%lu.%lu.%lu %lu", version.dwMajorVersion, version.dwMinorVersion,
                 version.dwBuildNumber, version.dwPlatformId);
    } else {
        // A variable set to "" also gives 0; only the error code tells it from an absent one.
        SetLastError(0);
        DWORD got = GetEnvironmentVariableA(name, text, sizeof text);
        DWORD error = GetLastError();
        if (got >= sizeof text) {
            snprintf(text, sizeof text, "(too long)");
        } else if (got == 0) {
            snprintf(text, sizeof text, "%s", error == ERROR_ENVVAR_NOT_FOUND ? "(unset)" : "(empty)");
        }
    }
}

static DWORD WINAPI ShowFromThread(LPVOID param) {
    const Box* box = static_cast<const Box*>(param);
    MessageBoxA(NULL, box->text, box->title, MB_OK);
    return 0;
}

// Waits for the thread's box to appear, leaves it up for a while, then closes it
// the way a program closes a notice it showed: found by title, sent WM_CLOSE.
static void ShowAndCloseItself(Box* box) {
    HANDLE thread = CreateThread(NULL, 0, ShowFromThread, box, 0, NULL);
    if (thread == NULL) {
        return;
    }
    // Starting the display can take seconds under emulation; give up when the
    // box has already been answered by someone else.
    HWND hwnd = NULL;
    for (int i = 0; i < 1200 && hwnd == NULL; ++i) {
        if (WaitForSingleObject(thread, 50) == WAIT_OBJECT_0) {
            break;
        }
        hwnd = FindWindowA(MAKEINTATOM(32770), box->title);
    }
    if (hwnd != NULL) {
        Sleep(500);
        // Under load the box can still be coming up when the first close
        // arrives, which it then misses: it is closed again until it is gone.
        do {
            DWORD_PTR ignored = 0;
            if (IsWindow(hwnd)) {
                SendMessageTimeoutA(hwnd, WM_CLOSE, 0, 0, SMTO_NORMAL, 1000, &ignored);
            }
        } while (WaitForSingleObject(thread, 1000) == WAIT_TIMEOUT);
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    // Stay up a little so that an observer sees the box go before the process does.
    Sleep(300);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = __argc;
    char** argv = __argv;
    int next = 1;
    bool selfClose = false;
    if (next < argc && strcmp(argv[next], "--self-close") == 0) {
        selfClose = true;
        ++next;
    }
    if (argc - next < 2) {
        MessageBoxA(NULL, "show_box.exe [--self-close] TITLE TEXT [EXITCODE [TITLE TEXT]...]", "show_box",
                    MB_OK);
        return 2;
    }
    static Box box;
    box.title = argv[next];
    ResolveText(argv[next + 1], box.text);
    int exitCode = argc - next > 2 ? static_cast<int>(strtoul(argv[next + 2], NULL, 0)) : 0;
    if (selfClose) {
        ShowAndCloseItself(&box);
    } else {
        MessageBoxA(NULL, box.text, box.title, MB_OK);
    }
    for (int i = next + 3; i + 1 < argc; i += 2) {
        box.title = argv[i];
        ResolveText(argv[i + 1], box.text);
        MessageBoxA(NULL, box.text, box.title, MB_OK);
    }
    return exitCode;
}
