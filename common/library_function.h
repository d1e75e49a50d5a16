// Functions looked up by name at run time: those a system may lack (the wide
// file functions are stubs or missing on the 4.x family without NT) and those
// of a library that is loaded only when needed.
#pragma once

#include <windows.h>

// The function's address, or nullptr when the library or the name is missing.
FARPROC LibraryFunction(const char* library, const char* name);

// Looks up count functions of library, their names one after another in
// names, each ended by a zero, into addresses (nullptr for each one missing).
// Returns how many, from the first on, were found before one was missing.
int LookUpFunctions(const char* library, const char* names, FARPROC* addresses, int count);

// Tests set this to stand for a system that lacks a function, or has one
// this one lacks; nullptr (always, in the program) asks the loader.
typedef FARPROC (*LibraryLookup)(const char* library, const char* name);
extern LibraryLookup LibraryLookupOverride;

// Casts through void (*)(), the function type that matches every other.
template <typename Function>
Function AsFunction(FARPROC address) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}
