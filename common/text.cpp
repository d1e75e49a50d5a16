// Bounded copy, append and format over fixed-size character buffers.
#include "common/text.h"

#include <stdarg.h>
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

void PutInteger(TextCursor& cursor, int value) {
    char digits[12];
    size_t count = 0;
    // Work in unsigned so that the most negative value has a magnitude too.
    unsigned magnitude = value < 0 ? 0U - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        PutChar(cursor, '-');
    }
    while (count > 0) {
        PutChar(cursor, digits[--count]);
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
    TextCursor cursor = {destination, size, 0, size != 0 ? 1 : 0};
    va_list arguments;
    va_start(arguments, format);
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            PutChar(cursor, *p);
            continue;
        }
        ++p;
        switch (*p) {
            case 's': {
                const char* text = va_arg(arguments, const char*);
                PutString(cursor, text != nullptr ? text : "");
                break;
            }
            case 'i':
            case 'd':
                PutInteger(cursor, va_arg(arguments, int));
                break;
            case 'c':
                PutChar(cursor, static_cast<char>(va_arg(arguments, int)));
                break;
            case '%':
                PutChar(cursor, '%');
                break;
            default:
                // An unknown conversion is a programming error; print it as it
                // stands rather than guessing at an argument.
                PutChar(cursor, '%');
                if (*p == '\0') {
                    --p;
                } else {
                    PutChar(cursor, *p);
                }
                break;
        }
    }
    va_end(arguments);
    return Finish(cursor);
}

int ContainsText(const char* text, const char* needle) {
    return strstr(text, needle) != nullptr ? 1 : 0;
}
