// The please-wait box, shown from a thread of its own during extraction.
#include "install/wait_notice.h"

#include <windows.h>

#include "common/message_box.h"
#include "common/run_state.h"

// The calling convention matters: the 32-bit build would otherwise leave the
// stack unbalanced when the thread returns.
static DWORD WINAPI ShowWaitNotice(LPVOID) {
    ShowMessage("Copying Files. Please wait.", ProductTitle);
    return 1;
}

// How long StartWaitNotice waits for the box to come up, in 10 ms steps.
static const int NoticeWaitSteps = 200;

int StartWaitNotice() {
    // Where no box can be seen there is none to wait for.
    if (CanShowBoxes() == 0) {
        return 0;
    }
    SECURITY_ATTRIBUTES security;
    security.nLength = sizeof security;
    security.lpSecurityDescriptor = nullptr;
    security.bInheritHandle = FALSE;
    // The thread is never waited for; it ends when its box closes, or with the
    // process. Older Windows versions insist on somewhere to put the thread id.
    DWORD threadId = 0;
    HANDLE thread = CreateThread(&security, 0, ShowWaitNotice, nullptr, 0, &threadId);
    if (thread == nullptr) {
        return 0;
    }
    CloseHandle(thread);
    // A quick extraction could otherwise end before the box exists, and the
    // box would then stay up, saying "Copying Files", all through the
    // installer. Waiting (a short, bounded while) for it to come up lets
    // CloseWaitNotice always find it.
    for (int step = 0; step < NoticeWaitSteps && IsMessageBoxOfThread(ProductTitle, threadId) == 0; ++step) {
        Sleep(10);
    }
    return 1;
}

int CloseWaitNotice() {
    return CloseMessageBox(ProductTitle);
}
