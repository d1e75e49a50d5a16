// Message boxes: one OK button, no icon, no owner window.
#include "common/message_box.h"

#include <windows.h>

#include "common/run_state.h"

void ShowMessage(const char* text, const char* title) {
    // The button pressed carries no information: there is only OK.
    (void)MessageBoxA(nullptr, text, title, MB_OK);
}

void ShowDiagnostic(const char* text, const char* title) {
    if (RunState.DebugMode != 0) {
        ShowMessage(text, title);
    }
}
