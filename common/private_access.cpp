// The process token's default owner, read through advapi32, which is looked
// up at run time: the 4.x family without NT has no security to ask.
#include "common/private_access.h"

#include "common/library_function.h"

template <typename Function>
static Function SecurityFunction(const char* name) {
    return AsFunction<Function>(LibraryFunction("advapi32.dll", name));
}

// The SID of the owner this process gives what it creates, into sid (size
// bytes). Returns its size, or 0.
static size_t ReadDefaultOwner(unsigned char* sid, size_t size) {
    typedef BOOL(WINAPI * OpenToken)(HANDLE, DWORD, PHANDLE);
    typedef BOOL(WINAPI * TokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
    OpenToken openToken = SecurityFunction<OpenToken>("OpenProcessToken");
    TokenInformation tokenInformation = SecurityFunction<TokenInformation>("GetTokenInformation");
    HANDLE token = nullptr;
    if (openToken == nullptr || tokenInformation == nullptr ||
        openToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) {
        return 0;
    }
    // TOKEN_OWNER and the SID it points to, which follows it.
    void* owner[PrivateDescriptorSize / sizeof(void*)];
    DWORD got = 0;
    size_t length = 0;
    if (tokenInformation(token, TokenOwner, owner, sizeof owner, &got) != FALSE && got <= sizeof owner) {
        const unsigned char* ownerSid = static_cast<const unsigned char*>(owner[0]);
        const unsigned char* end = reinterpret_cast<const unsigned char*>(owner) + got;
        if (ownerSid > reinterpret_cast<const unsigned char*>(owner) && ownerSid < end) {
            length = SidSize(ownerSid, static_cast<size_t>(end - ownerSid));
            if (length > size) {
                length = 0;
            }
            for (size_t i = 0; i < length; ++i) {
                sid[i] = ownerSid[i];
            }
        }
    }
    CloseHandle(token);
    return length;
}

int PrivateSecurity(int inheritable, PrivateDescriptor* descriptor, SECURITY_ATTRIBUTES* attributes) {
    attributes->nLength = sizeof *attributes;
    attributes->lpSecurityDescriptor = nullptr;
    attributes->bInheritHandle = FALSE;
    unsigned char owner[PrivateDescriptorSize / 2];
    size_t ownerSize = ReadDefaultOwner(owner, sizeof owner);
    if (ownerSize == 0 || BuildPrivateDescriptor(owner, ownerSize, inheritable, descriptor) == 0) {
        return 0;
    }
    attributes->lpSecurityDescriptor = descriptor->Words;
    return 1;
}

int RandomBytes(void* bytes, unsigned long size) {
    // RtlGenRandom, exported under this name since Windows XP.
    typedef BOOLEAN(WINAPI * Generator)(PVOID, ULONG);
    Generator generate = SecurityFunction<Generator>("SystemFunction036");
    if (generate != nullptr && generate(bytes, size) != FALSE) {
        return 1;
    }
    LARGE_INTEGER counter;
    counter.QuadPart = 0;
    (void)QueryPerformanceCounter(&counter);
    unsigned long mix = static_cast<unsigned long>(counter.LowPart) ^ (GetTickCount() << 7) ^
                        (GetCurrentProcessId() << 16) ^ GetCurrentThreadId();
    unsigned char* out = static_cast<unsigned char*>(bytes);
    for (unsigned long i = 0; i < size; ++i) {
        mix = mix * 1103515245UL + 12345UL;
        out[i] = static_cast<unsigned char>(mix >> 16);
    }
    return 0;
}
