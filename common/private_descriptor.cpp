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

// S-1-5-18, the system, and S-1-5-32-544, the administrators.
static const unsigned char SystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
static const unsigned char AdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};

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

static void PutLong(unsigned char* at, unsigned long value) {
    PutWord(at, static_cast<unsigned>(value & 0xFFFF));
    PutWord(at + 2, static_cast<unsigned>(value >> 16));
}

// Appends one access-allowed entry at bytes + *used. The caller made room.
static void AppendEntry(unsigned char* bytes, size_t* used, const unsigned char* sid, size_t sidSize,
                        int inheritable) {
    unsigned char* entry = bytes + *used;
    entry[0] = AccessAllowed;
    entry[1] = static_cast<unsigned char>(inheritable != 0 ? unsigned{InheritToFilesAndDirs} : 0u);
    PutWord(entry + 2, static_cast<unsigned>(AceHeaderSize + sidSize));
    PutLong(entry + 4, FullControl);
    memcpy(entry + AceHeaderSize, sid, sidSize);
    *used += AceHeaderSize + sidSize;
}

static int SameSid(const unsigned char* sid, size_t size, const unsigned char* other, size_t otherSize) {
    return size == otherSize && memcmp(sid, other, size) == 0 ? 1 : 0;
}

int BuildPrivateDescriptor(const unsigned char* ownerSid, size_t ownerSize, int inheritable,
                           PrivateDescriptor* descriptor) {
    unsigned char* bytes = reinterpret_cast<unsigned char*>(descriptor->Words);
    memset(bytes, 0, PrivateDescriptorSize);
    size_t ownerLength = SidSize(ownerSid, ownerSize);
    if (ownerLength == 0) {
        return 0;
    }
    // Three entries with a SID of the largest size still fit the descriptor.
    size_t used = HeaderSize + AclHeaderSize;
    AppendEntry(bytes, &used, SystemSid, sizeof SystemSid, inheritable);
    AppendEntry(bytes, &used, AdministratorsSid, sizeof AdministratorsSid, inheritable);
    unsigned entries = 2;
    if (SameSid(ownerSid, ownerLength, SystemSid, sizeof SystemSid) == 0 &&
        SameSid(ownerSid, ownerLength, AdministratorsSid, sizeof AdministratorsSid) == 0) {
        AppendEntry(bytes, &used, ownerSid, ownerLength, inheritable);
        ++entries;
    }

    bytes[0] = 1;  // SECURITY_DESCRIPTOR_REVISION
    PutWord(bytes + 2, ControlDaclPresent | ControlDaclProtected | ControlSelfRelative);
    PutLong(bytes + 16, HeaderSize);  // the DACL follows the header; no owner, group or SACL
    unsigned char* acl = bytes + HeaderSize;
    acl[0] = AclRevision;
    PutWord(acl + 2, static_cast<unsigned>(used - HeaderSize));
    PutWord(acl + 4, entries);
    return 1;
}
