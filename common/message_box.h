// Every box the program shows goes through here: no owner, MB_OK alone.
#pragma once

// Shows a box and waits for OK.
void ShowMessage(const char* text, const char* title);

// Shows a box only in debug mode.
void ShowDiagnostic(const char* text, const char* title);
