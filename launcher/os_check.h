// The operating-system support check.
#pragma once

// 1 when the running Windows version is one the package's tags allow.
int CheckOperatingSystem();
