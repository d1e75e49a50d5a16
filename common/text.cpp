// Bounded copy, append and format over fixed-size character buffers.
#include "common/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

// A write cursor over a fixed buffer that remembers whether anything was lost.
struct TextCursor {
    char* Buffer;
    size_t Size;
    size_t Length;
    int Fits;
};

void PutChar(TextCursor& cursor, char c) {
    if (cursor.Length + 1 < cursor.Size) {
        cursor.Buffer[cursor.Length++] = c;
    } else {
        cursor.Fits = 0;
    }
}

void PutString(TextCursor& cursor, const char* text) {
    for (; *text != '\0'; ++text) {
        PutChar(cursor, *text);
    }
}

int Finish(TextCursor& cursor) {
    if (cursor.Size == 0) {
        return 0;
    }
    cursor.Buffer[cursor.Length] = '\0';
    return cursor.Fits;
}

}  // namespace

int CopyText(char* destination, size_t size, const char* source) {
    TextCursor cursor = {destination, size, 0, size != 0 ? 1 : 0};
    PutString(cursor, source != nullptr ? source : "");
    return Finish(cursor);
}

int AppendText(char* destination, size_t size, const char* source) {
    if (size == 0) {
        return 0;
    }
    size_t length = strnlen(destination, size);
    if (length == size) {
        // Not terminated within its buffer: nothing can be appended safely.
        destination[size - 1] = '\0';
        return 0;
    }
    TextCursor cursor = {destination, size, length, 1};
    PutString(cursor, source != nullptr ? source : "");
    return Finish(cursor);
}

int FormatText(char* destination, size_t size, const char* format, ...) {
    if (size == 0) {
        return 0;
    }
    va_list arguments;
    va_start(arguments, format);
#ifdef _WIN32
    // The C runtime's own: it leaves a text that fills the buffer or more
    // unterminated and reports it as -1 or the size.
    int length = _vsnprintf(destination, size, format, arguments);
#else
    int length = vsnprintf(destination, size, format, arguments);
#endif
    va_end(arguments);
    destination[size - 1] = '\0';
    return length >= 0 && static_cast<size_t>(length) < size ? 1 : 0;
}

int ContainsText(const char* text, const char* needle) {
    return strstr(text, needle) != nullptr ? 1 : 0;
}
