// The run's log ("log.tag"): every diagnostic, each child's result and the
// exit code, whether or not debug mode shows them, for a run no one watches.
#pragma once

// Creates the log as a new file in tempBase (ending in a backslash), closed
// to other accounts like the working directory, which its own account may
// read while the run goes on. Never an existing file or a link: when its name
// is taken, the name with "-2", "-3" ... before ".log", a few times. Returns 1
// when the log is open; without one, nothing is written.
int OpenRunLog(const char* tempBase);

// Appends one line with the local time, the title and the text, in UTF-8
// with CR LF. Writing never changes the run: a failure is ignored.
void LogEvent(const char* title, const char* text);
