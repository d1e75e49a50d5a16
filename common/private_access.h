// Security attributes that keep other accounts out of what this process
// creates, from the moment it exists.
#pragma once

#include <windows.h>

#include "common/private_descriptor.h"

// Fills attributes (and descriptor, which it points to) so that the object
// created with them grants access to SYSTEM, Administrators and this
// process's default owner alone; with inheritable, so does everything created
// inside it. Returns 1, or 0 where the system has no security or a call
// failed: attributes then ask for the default security.
int PrivateSecurity(int inheritable, PrivateDescriptor* descriptor, SECURITY_ATTRIBUTES* attributes);

// Fills size bytes with random ones from the system's generator, or, where
// there is none, with bits of the clock and the process. Returns 1 when they
// came from the generator.
int RandomBytes(void* bytes, unsigned long size);
