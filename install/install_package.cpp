// Placeholder hand-over target; the installation sequence replaces this file.
#include "install/install_package.h"

int InstallPackage(const char*) {
    return 1;
}
