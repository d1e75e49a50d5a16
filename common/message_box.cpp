// Message boxes: one OK button, no icon, no owner window.
#include "common/message_box.h"

#include <windows.h>

#include "common/library_function.h"
#include "common/run_log.h"
#include "common/run_state.h"

// USER32 is loaded when the first box is shown or looked for, not at start:
// loading it connects the process to the window system, which costs a run
// that shows nothing (silent, no debug) more than all the rest of its own
// work.
// Not inlined: one call site each, and one copy of the library's name, which
// needs a relocation wherever it is used.
__attribute__((noinline)) static FARPROC UserFunction(const char* name) {
    return LibraryFunction("user32.dll", name);
}

// Session 0 belongs to the services from the 6.x family on, and no one sees
// it: not even an interactive service's window station, which says it is
// visible. On older Windows the first user's session is 0.
static int InServicesSession() {
    typedef BOOL(WINAPI * SessionFunction)(DWORD, DWORD*);
    SessionFunction session =
        AsFunction<SessionFunction>(LibraryFunction("kernel32.dll", "ProcessIdToSessionId"));
    DWORD id = 1;
    return LOBYTE(GetVersion()) >= 6 && session != nullptr && session(GetCurrentProcessId(), &id) != FALSE &&
                   id == 0
               ? 1
               : 0;
}

int CanShowBoxes() {
    if (InServicesSession() != 0) {
        return 0;
    }
    typedef HWINSTA(WINAPI * StationFunction)();
    typedef BOOL(WINAPI * InformationFunction)(HANDLE, int, PVOID, DWORD, LPDWORD);
    StationFunction station = AsFunction<StationFunction>(UserFunction("GetProcessWindowStation"));
    InformationFunction information =
        AsFunction<InformationFunction>(UserFunction("GetUserObjectInformationA"));
    if (station == nullptr || information == nullptr) {
        return 1;  // no window stations to ask about: boxes show as they always did
    }
    USEROBJECTFLAGS flags;
    DWORD needed = 0;
    HWINSTA own = station();
    if (own == nullptr || information(own, UOI_FLAGS, &flags, sizeof flags, &needed) == FALSE) {
        return 1;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0 ? 1 : 0;
}

void ShowMessage(const char* text, const char* title) {
    LogEvent(title, text);
    // A service's window station (session 0, where deployment agents run)
    // shows nothing to anyone: a box there would wait for an OK that never
    // comes.
    if (CanShowBoxes() == 0) {
        return;
    }
    typedef int(WINAPI * MessageBoxFunction)(HWND, LPCSTR, LPCSTR, UINT);
    MessageBoxFunction messageBox = AsFunction<MessageBoxFunction>(UserFunction("MessageBoxA"));
    if (messageBox != nullptr) {
        // The button pressed carries no information: there is only OK.
        (void)messageBox(nullptr, text, title, MB_OK);
    }
}

void ShowDiagnostic(const char* text, const char* title) {
    if (RunState.DebugMode != 0) {
        ShowMessage(text, title);
    } else {
        LogEvent(title, text);
    }
}

// The class atom of the standard dialog box a message box uses.
enum { DialogClassAtom = 32770 };

int IsMessageBoxOfThread(const char* title, unsigned long threadId) {
    typedef HWND(WINAPI * FindWindowExFunction)(HWND, HWND, LPCSTR, LPCSTR);
    typedef DWORD(WINAPI * WindowThreadFunction)(HWND, LPDWORD);
    FindWindowExFunction findWindowEx = AsFunction<FindWindowExFunction>(UserFunction("FindWindowExA"));
    WindowThreadFunction windowThread =
        AsFunction<WindowThreadFunction>(UserFunction("GetWindowThreadProcessId"));
    if (findWindowEx == nullptr || windowThread == nullptr) {
        return 0;
    }
    HWND box = nullptr;
    while ((box = findWindowEx(nullptr, box, MAKEINTATOM(DialogClassAtom), title)) != nullptr) {
        if (windowThread(box, nullptr) == threadId) {
            return 1;
        }
    }
    return 0;
}

int CloseMessageBox(const char* title) {
    typedef HWND(WINAPI * FindWindowFunction)(LPCSTR, LPCSTR);
    typedef LRESULT(WINAPI * SendMessageFunction)(HWND, UINT, WPARAM, LPARAM);
    FindWindowFunction findWindow = AsFunction<FindWindowFunction>(UserFunction("FindWindowA"));
    SendMessageFunction sendMessage = AsFunction<SendMessageFunction>(UserFunction("SendMessageA"));
    if (findWindow == nullptr || sendMessage == nullptr) {
        return 0;
    }
    HWND box = findWindow(MAKEINTATOM(DialogClassAtom), title);
    if (box == nullptr) {
        return 0;
    }
    sendMessage(box, WM_CLOSE, 0, 0);
    return 1;
}
