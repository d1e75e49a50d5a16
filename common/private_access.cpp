// The process token's default owner, read through advapi32, which is looked
// up at run time: the 4.x family without NT has no security to ask.
#include "common/private_access.h"

#include "common/library_function.h"

// An advapi32 function, looked up by name (nullptr when the system lacks it).
// Not inlined, so that the library's name is referred to once.
__attribute__((noinline)) static FARPROC SecurityFunction(const char* name) {
    return LibraryFunction("advapi32.dll", name);
}

// Builds the descriptor for the owner this process gives what it creates.
// Returns 1, or 0 where there is no security to ask.
static int BuildForDefaultOwner(int inheritable, PrivateDescriptor* descriptor) {
    typedef BOOL(WINAPI * OpenToken)(HANDLE, DWORD, PHANDLE);
    typedef BOOL(WINAPI * TokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
    OpenToken openToken = AsFunction<OpenToken>(SecurityFunction("OpenProcessToken"));
    TokenInformation tokenInformation = AsFunction<TokenInformation>(SecurityFunction("GetTokenInformation"));
    HANDLE token = nullptr;
    if (openToken == nullptr || tokenInformation == nullptr ||
        openToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) {
        return 0;
    }
    // TOKEN_OWNER and the SID it points to, which follows it in the buffer.
    void* owner[PrivateDescriptorSize / sizeof(void*)];
    DWORD got = 0;
    int built = 0;
    if (tokenInformation(token, TokenOwner, owner, sizeof owner, &got) != FALSE && got <= sizeof owner) {
        const unsigned char* start = reinterpret_cast<const unsigned char*>(owner);
        const unsigned char* sid = static_cast<const unsigned char*>(owner[0]);
        if (sid > start && sid < start + got) {
            built =
                BuildPrivateDescriptor(sid, static_cast<size_t>(start + got - sid), inheritable, descriptor);
        }
    }
    CloseHandle(token);
    return built;
}

int PrivateSecurity(int inheritable, PrivateDescriptor* descriptor, SECURITY_ATTRIBUTES* attributes) {
    attributes->nLength = sizeof *attributes;
    attributes->lpSecurityDescriptor = nullptr;
    attributes->bInheritHandle = FALSE;
    if (BuildForDefaultOwner(inheritable, descriptor) == 0) {
        return 0;
    }
    attributes->lpSecurityDescriptor = descriptor->Words;
    return 1;
}

unsigned long RandomNumber() {
    // RtlGenRandom, exported under this name since Windows XP.
    typedef BOOLEAN(WINAPI * Generator)(PVOID, ULONG);
    Generator generate = AsFunction<Generator>(SecurityFunction("SystemFunction036"));
    unsigned long number = 0;
    if (generate != nullptr && generate(&number, sizeof number) != FALSE) {
        return number;
    }
    // Each call steps on, so that tries within one tick of the clock differ.
    static unsigned long calls = 0;
    return ((GetTickCount() + ++calls) * 2654435761UL) ^ (GetCurrentProcessId() << 16);
}
