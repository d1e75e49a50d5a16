// The choice between a path's own ANSI spelling, its short form's, and none.
#include "common/path_form.h"

// Room for any wide path the program asks for, converted back from ANSI.
enum { WideRoom = 520 };

int SameWideText(const WideChar* a, const WideChar* b) {
    for (; *a != 0 && *a == *b; ++a, ++b) {
    }
    return *a == *b ? 1 : 0;
}

int RoundTrips(const WideChar* text, const PathCodec& codec, char* ansi, size_t size) {
    WideChar back[WideRoom];
    if (size == 0 || codec.ToAnsi(text, ansi, size) == 0) {
        return 0;
    }
    return codec.ToWide(ansi, back, WideRoom) != 0 && SameWideText(text, back) != 0 ? 1 : 0;
}

PathForm ChooseAnsiForm(const WideChar* path, const PathCodec& codec, char* ansi, size_t size) {
    if (size == 0) {
        return NoUsableForm;
    }
    if (path[0] != 0 && RoundTrips(path, codec, ansi, size) != 0) {
        return SameSpelling;
    }
    WideChar shortPath[WideRoom];
    if (path[0] != 0 && codec.ShortForm(path, shortPath, WideRoom) != 0 &&
        RoundTrips(shortPath, codec, ansi, size) != 0) {
        return ShortSpelling;
    }
    ansi[0] = '\0';
    return NoUsableForm;
}

static int PutWide(WideChar* destination, size_t size, size_t& length, WideChar unit) {
    if (length + 1 >= size) {
        return 0;
    }
    destination[length++] = unit;
    destination[length] = 0;
    return 1;
}

int WideDestination(const WideChar* option, WideChar* destination, size_t size) {
    if (size == 0) {
        return 0;
    }
    destination[0] = 0;
    int colon = 0;
    int text = 0;
    for (const WideChar* p = option; *p != 0; ++p) {
        colon |= *p == ':' ? 1 : 0;
        text |= *p != '"' ? 1 : 0;
    }
    size_t length = 0;
    int fits = text;
    if (colon == 0) {
        fits &= PutWide(destination, size, length, 'C') & PutWide(destination, size, length, ':') &
                PutWide(destination, size, length, '\\');
    }
    for (const WideChar* p = option; *p != 0 && fits != 0; ++p) {
        if (*p != '"') {
            fits &= PutWide(destination, size, length, *p);
        }
    }
    if (fits == 0) {
        destination[0] = 0;
    }
    return fits;
}
