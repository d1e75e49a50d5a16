// The bytes of a self-relative security descriptor with a protected DACL.
#include "common/private_descriptor.h"

#include <string.h>

enum : unsigned {
    HeaderSize = 20,    // SECURITY_DESCRIPTOR_RELATIVE
    AclHeaderSize = 8,  // ACL
    AceHeaderSize = 8,  // ACE_HEADER and the access mask
    SidHeaderSize = 8,  // revision, count, identifier authority
    MostSubAuthorities = 15,
    ControlDaclPresent = 0x0004,    // SE_DACL_PRESENT
    ControlDaclProtected = 0x1000,  // SE_DACL_PROTECTED
    ControlSelfRelative = 0x8000,   // SE_SELF_RELATIVE
    AclRevision = 2,
    AccessAllowed = 0,          // ACCESS_ALLOWED_ACE_TYPE
    InheritToFilesAndDirs = 3,  // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
    FullControl = 0x001F01FF,   // FILE_ALL_ACCESS
};

// The descriptor's fixed start: the header (revision, control word, no owner,
// group or SACL, the DACL right after it), the DACL's header (its size and
// entry count set once known) and the entries for S-1-5-18, the system, and
// S-1-5-32-544, the administrators (their inheritance flags set as asked).
// clang-format off
static const unsigned char FixedStart[] = {
    1, 0, 0x04, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, HeaderSize, 0, 0, 0,  // header
    AclRevision, 0, 0, 0, 0, 0, 0, 0,                                            // ACL
    AccessAllowed, 0, 20, 0, 0xFF, 0x01, 0x1F, 0,                                // the system's entry
    1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,
    AccessAllowed, 0, 24, 0, 0xFF, 0x01, 0x1F, 0,                                // the administrators'
    1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0,
};
// clang-format on
enum : unsigned {
    SystemEntry = HeaderSize + AclHeaderSize,
    AdministratorsEntry = SystemEntry + 20,
};
static_assert(ControlDaclPresent + ControlDaclProtected + ControlSelfRelative == 0x9004, "control word");
static_assert(FullControl == 0x001F01FF, "access mask");

size_t SidSize(const unsigned char* sid, size_t size) {
    if (size < SidHeaderSize || sid[0] != 1 || sid[1] > MostSubAuthorities) {
        return 0;
    }
    size_t length = SidHeaderSize + 4u * sid[1];
    return length <= size ? length : 0;
}

static void PutWord(unsigned char* at, unsigned value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

static int SameSid(const unsigned char* sid, size_t size, const unsigned char* entry) {
    return size == entry[2] - AceHeaderSize && memcmp(sid, entry + AceHeaderSize, size) == 0 ? 1 : 0;
}

int BuildPrivateDescriptor(const unsigned char* ownerSid, size_t ownerSize, int inheritable,
                           PrivateDescriptor* descriptor) {
    unsigned char* bytes = reinterpret_cast<unsigned char*>(descriptor->Words);
    memset(bytes, 0, PrivateDescriptorSize);
    size_t ownerLength = SidSize(ownerSid, ownerSize);
    if (ownerLength == 0) {
        return 0;
    }
    const unsigned char flags = inheritable != 0 ? unsigned{InheritToFilesAndDirs} : 0u;
    memcpy(bytes, FixedStart, sizeof FixedStart);
    bytes[SystemEntry + 1] = flags;
    bytes[AdministratorsEntry + 1] = flags;
    // Three entries with a SID of the largest size still fit the descriptor.
    size_t used = sizeof FixedStart;
    unsigned entries = 2;
    if (SameSid(ownerSid, ownerLength, bytes + SystemEntry) == 0 &&
        SameSid(ownerSid, ownerLength, bytes + AdministratorsEntry) == 0) {
        unsigned char* entry = bytes + used;
        memcpy(entry, bytes + SystemEntry, AceHeaderSize);  // type, flags and access mask
        entry[2] = static_cast<unsigned char>(AceHeaderSize + ownerLength);
        memcpy(entry + AceHeaderSize, ownerSid, ownerLength);
        used += AceHeaderSize + ownerLength;
        ++entries;
    }
    unsigned char* acl = bytes + HeaderSize;
    PutWord(acl + 2, static_cast<unsigned>(used - HeaderSize));
    PutWord(acl + 4, entries);
    return 1;
}
