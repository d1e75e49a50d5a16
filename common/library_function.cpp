// Run-time lookup of library functions.
#include "common/library_function.h"

// Each call asks the loader again; after the first this only counts a
// reference, and no state is shared between the threads that call it.
LibraryLookup LibraryLookupOverride = nullptr;

FARPROC LibraryFunction(const char* library, const char* name) {
    if (LibraryLookupOverride != nullptr) {
        return LibraryLookupOverride(library, name);
    }
    HMODULE module = LoadLibraryA(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

int LookUpFunctions(const char* library, const char* names, FARPROC* addresses, int count) {
    int found = 0;
    int all = 1;
    for (int i = 0; i < count; ++i) {
        addresses[i] = LibraryFunction(library, names);
        all &= addresses[i] != nullptr ? 1 : 0;
        found += all;
        while (*names++ != '\0') {
        }
    }
    return found;
}
