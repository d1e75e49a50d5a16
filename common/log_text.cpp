// Composition of the log's name and lines.
#include "common/log_text.h"

#include "common/text.h"

int ComposeLogName(const char* tempBase, const LogTime& time, unsigned long processId, char* path,
                   size_t size) {
    return FormatText(path, size, "%sQUILLER-%04u%02u%02u-%02u%02u%02u-%u.log", tempBase, time.Year,
                      time.Month, time.Day, time.Hour, time.Minute, time.Second,
                      static_cast<unsigned>(processId));
}

int ComposeLogLine(const LogTime& time, const char* title, const char* text, char* line, size_t size) {
    int fits = FormatText(line, size, "%04u-%02u-%02u %02u:%02u:%02u.%03u %s: %s", time.Year, time.Month, time.Day,
                          time.Hour, time.Minute, time.Second, time.Milliseconds, title, text);
    for (char* p = line; *p != '\0'; ++p) {
        if (*p == '\n') {
            *p = '\t';
        }
    }
    return fits;
}
