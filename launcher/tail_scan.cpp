// The tag search over the bytes read from the end of the executable.
#include "launcher/tail_scan.h"

#include "common/text.h"

int TailHasTag(const char* tail, size_t length, const char* tag) {
    char region[TailRegionSize + 1];
    if (length > TailRegionSize) {
        length = TailRegionSize;
    }
    // The region usually starts inside the image's zero padding, and a zero
    // may sit between appended lines; neither may end the search early.
    for (size_t i = 0; i < length; ++i) {
        region[i] = tail[i] == '\0' ? '^' : tail[i];
    }
    region[length] = '\0';
    return ContainsText(region, tag);
}
