// The name and the lines of the run's log, composed over plain buffers.
#pragma once

#include <stddef.h>

// A local time, field for field as Windows gives it (SYSTEMTIME).
struct LogTime {
    unsigned short Year;
    unsigned short Month;
    unsigned short DayOfWeek;
    unsigned short Day;
    unsigned short Hour;
    unsigned short Minute;
    unsigned short Second;
    unsigned short Milliseconds;
};

// tempBase (ending in a backslash) followed by
// QUILLER-YYYYMMDD-HHMMSS-PID.log. Returns 1 when it fitted in path (size
// bytes).
int ComposeLogName(const char* tempBase, const LogTime& time, unsigned long processId, char* path,
                   size_t size);

// "YYYY-MM-DD HH:MM:SS.mmm title: text", the text's line breaks written as
// tabs so that each event stays one line. Returns 1 when it fitted in line
// (size bytes); a line that does not fit ends where the buffer does.
int ComposeLogLine(const LogTime& time, const char* title, const char* text, char* line, size_t size);
