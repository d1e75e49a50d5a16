// A security descriptor that closes an object to every account but the
// system, the administrators and the owner of what this process creates,
// composed as bytes so that it builds and is checked without Windows.
#pragma once

#include <stddef.h>

// Room for the header, the DACL and three entries with the largest SID.
enum { PrivateDescriptorSize = 256 };

// DWORD-aligned, as the system reads it.
struct PrivateDescriptor {
    unsigned long Words[PrivateDescriptorSize / sizeof(unsigned long)];
};

// Writes a self-relative descriptor: no owner or group (the system sets the
// creator's), and a DACL protected from inheriting anything from the parent
// that allows full control to SYSTEM, to Administrators and to ownerSid
// (left out when it is one of those two), and to nobody else. With
// inheritable, files and directories created inside inherit the entries.
// Returns 1, or 0 when ownerSid (ownerSize bytes) is not a well-formed SID.
int BuildPrivateDescriptor(const unsigned char* ownerSid, size_t ownerSize, int inheritable,
                           PrivateDescriptor* descriptor);

// The size of the SID at sid (at most size bytes), or 0 when it is not a
// well-formed one.
size_t SidSize(const unsigned char* sid, size_t size);
