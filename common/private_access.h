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

// A number from the system's random generator, or, where there is none (before
// Windows XP) or it fails, one mixed from the clock, the process id and a
// count of calls, different for every call within one run: enough to step
// past names taken by chance, as every try creates a new directory anyway.
unsigned long RandomNumber();
