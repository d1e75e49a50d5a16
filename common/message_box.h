// Every box the program shows goes through here: no owner, MB_OK alone.
#pragma once

// 1 when a box would be seen: the process is not in session 0 of the 6.x
// family or later (the services'), and its window station is visible or the
// system has no window stations to ask about.
int CanShowBoxes();

// Shows a box and waits for OK, where one can be seen; logs it either way.
void ShowMessage(const char* text, const char* title);

// Shows a box only in debug mode; logs it either way.
void ShowDiagnostic(const char* text, const char* title);

// 1 when a top-level message box titled exactly title, shown by the thread
// threadId, exists; else 0.
int IsMessageBoxOfThread(const char* title, unsigned long threadId);

// Closes the top-level message box titled exactly title, when one is on the
// screen, by sending it WM_CLOSE. Returns 1 when one was found, else 0.
int CloseMessageBox(const char* title);
