// Windows' rules for file names, applied to the UTF-8 names of the build host.
#include "tools/pack/names/file_names.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

// Decodes one UTF-8 sequence at text[at]; false when it is not one (an
// overlong form, a surrogate, a cut sequence).
static bool NextCodePoint(const std::string& text, size_t& at, uint32_t& point) {
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = 1;
    if (lead < 0x80) {
        point = lead;
    } else if (lead >= 0xc2 && lead < 0xe0) {
        length = 2;
        point = lead & 0x1f;
    } else if (lead >= 0xe0 && lead < 0xf0) {
        length = 3;
        point = lead & 0x0f;
    } else if (lead >= 0xf0 && lead < 0xf5) {
        length = 4;
        point = lead & 0x07;
    } else {
        return false;
    }
    if (text.size() - at < length) {
        return false;
    }
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xc0) != 0x80) {
            return false;
        }
        point = (point << 6) | (next & 0x3f);
    }
    static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < smallest[length] || point > 0x10ffff || (point >= 0xd800 && point < 0xe000)) {
        return false;
    }
    at += length;
    return true;
}

static void AppendUtf8(std::string& text, uint32_t point) {
    if (point < 0x80) {
        text += static_cast<char>(point);
    } else if (point < 0x800) {
        text += static_cast<char>(0xc0 | (point >> 6));
        text += static_cast<char>(0x80 | (point & 0x3f));
    } else if (point < 0x10000) {
        text += static_cast<char>(0xe0 | (point >> 12));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (point & 0x3f));
    } else {
        text += static_cast<char>(0xf0 | (point >> 18));
        text += static_cast<char>(0x80 | ((point >> 12) & 0x3f));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (point & 0x3f));
    }
}

static bool IsUtf8(const std::string& text) {
    uint32_t point = 0;
    for (size_t at = 0; at < text.size();) {
        if (!NextCodePoint(text, at, point)) {
            return false;
        }
    }
    return true;
}

bool IsAscii(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

static std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, alone or before an extension.
static bool IsDeviceName(const std::string& component) {
    std::string base = UpperAscii(component.substr(0, component.find('.')));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (base == device) {
            return true;
        }
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

std::string WindowsNameProblem(const std::string& component) {
    for (const char c : component) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return "a control character in the name";
        }
        if (strchr(":*?\"<>|\\", c) != nullptr) {
            return std::string("'") + c + "' in the name, which Windows does not allow";
        }
    }
    if (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
        return "a name ending in a dot or a space, which Windows drops";
    }
    if (IsDeviceName(component)) {
        return "a device name reserved by Windows";
    }
    if (!IsUtf8(component)) {
        return "a name that is not UTF-8, so its letters cannot be told";
    }
    return "";
}

static uint32_t FoldCodePoint(uint32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xc0 && c <= 0xde && c != 0xd7) || (c >= 0x391 && c <= 0x3ab) ||
        (c >= 0x410 && c <= 0x42f) || (c >= 0xff21 && c <= 0xff3a)) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40f) {
        return c + 0x50;
    }
    if (c == 0x178) {
        return 0xff;
    }
    // Latin Extended-A: capital and small letters in pairs.
    const bool evenPairs = (c >= 0x100 && c <= 0x137) || (c >= 0x14a && c <= 0x177);
    const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17e);
    if ((evenPairs && c % 2 == 0) || (oddPairs && c % 2 == 1)) {
        return c + 1;
    }
    return c;
}

std::string FoldCase(const std::string& utf8) {
    std::string folded;
    uint32_t point = 0;
    for (size_t at = 0; at < utf8.size();) {
        if (!NextCodePoint(utf8, at, point)) {
            folded += utf8[at++];
            continue;
        }
        AppendUtf8(folded, FoldCodePoint(point));
    }
    return folded;
}

#ifdef _WIN32
static bool Spells(unsigned codePage, const std::string& utf8) {
    wchar_t wide[1024];
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                           static_cast<int>(utf8.size()), wide, 1024);
    if (length <= 0) {
        return false;
    }
    char bytes[4096];
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, length, bytes, sizeof bytes,
                                         nullptr, &usedDefault);
    if (size <= 0 || usedDefault) {
        return false;
    }
    wchar_t back[1024];
    const int again = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, size, back, 1024);
    return again == length && memcmp(back, wide, sizeof(wchar_t) * static_cast<size_t>(length)) == 0;
}
#else
// text converted by iconv from one encoding to another, whole; false when
// any of it does not convert.
static bool Convert(const char* to, const char* from, const std::string& text, std::string& converted) {
    iconv_t convert = iconv_open(to, from);
    if (convert == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::string in = text;
    std::string out(text.size() * 4 + 8, '\0');
    char* source = &in[0];
    size_t sourceLeft = in.size();
    char* target = &out[0];
    size_t targetLeft = out.size();
    const size_t done = iconv(convert, &source, &sourceLeft, &target, &targetLeft);
    // A stateful decoder (CP1258's) holds back its last character, which
    // may yet combine with the next, until it is flushed.
    const size_t flushed = iconv(convert, nullptr, nullptr, &target, &targetLeft);
    (void)iconv_close(convert);  // only converted in memory
    if (done == static_cast<size_t>(-1) || flushed == static_cast<size_t>(-1) || sourceLeft != 0) {
        return false;
    }
    converted = out.substr(0, out.size() - targetLeft);
    return true;
}

// As on Windows: the name goes into the code page and reads back the same,
// or the extractor, which reads it back, sees another name.
static bool Spells(unsigned codePage, const std::string& utf8) {
    // glibc's CP936 is the older GB2312 set; Windows' 936 is GBK.
    const std::string name = codePage == 936 ? "GBK" : "CP" + std::to_string(codePage);
    std::string bytes;
    std::string back;
    if (!Convert(name.c_str(), "UTF-8", utf8, bytes) || !Convert("UTF-8", name.c_str(), bytes, back) ||
        back != utf8) {
        return false;
    }
    // The single-byte pages give one byte a character. glibc's 1255 and 1258
    // split a letter that their table lacks into a base letter and an
    // accent; the extractor converts a character at a time, and refuses it.
    const bool doubleByte = codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
    const size_t characters = static_cast<size_t>(std::count_if(
        utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
    return doubleByte || bytes.size() == characters;
}
#endif

const char NoCodePageSpells[] =
    "no Windows ANSI code page (874, 932, 936, 949, 950, 1250 to 1258) spells this name, so unzip.exe "
    "refuses it on every system; rename it, or ship it inside an archive of the installer's own";

std::string CodePagesSpelling(const std::string& utf8) {
    std::string pages;
    for (const unsigned page :
         {874U, 932U, 936U, 949U, 950U, 1250U, 1251U, 1252U, 1253U, 1254U, 1255U, 1256U, 1257U, 1258U}) {
        if (Spells(page, utf8)) {
            pages += (pages.empty() ? "" : ", ") + std::to_string(page);
        }
    }
    return pages;
}

static char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string FindNameIgnoringCase(const std::vector<std::string>& names, const std::string& wanted) {
    for (const std::string& name : names) {
        if (name.size() != wanted.size()) {
            continue;
        }
        size_t i = 0;
        while (i < name.size() && LowerAscii(name[i]) == LowerAscii(wanted[i])) {
            ++i;
        }
        if (i == name.size()) {
            return name;
        }
    }
    return "";
}

// The longest temporary directory common among the launcher's targets:
// Windows 2000/XP's, for a user name of 20 characters (the longest those
// versions allow), with the launcher's own QUILLER below it.
const char TypicalWorkingDirectory[] =
    "C:\\Documents and Settings\\abcdefghijklmnopqrst\\Local Settings\\Temp\\QUILLER\\";

const size_t MaxPath = 260;

bool TooLongForWorkingDirectory(const std::string& entry) {
    return sizeof TypicalWorkingDirectory - 1 + entry.size() + 1 > MaxPath;
}

bool ReparseTagIsLink(unsigned long tag) {
    const unsigned long microsoft = 0x80000000UL;
    const unsigned long nameSurrogate = 0x20000000UL;
    return (tag & microsoft) == 0 || (tag & nameSurrogate) != 0;
}
