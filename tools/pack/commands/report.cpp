// Messages on standard error, in the one form every command uses.
#include "tools/pack/commands/report.h"

#include <stdio.h>

void Fail(const std::string& text) {
    (void)fprintf(stderr, "pack: %s\n", text.c_str());
}

void Warn(const std::string& text) {
    (void)fprintf(stderr, "pack: warning: %s\n", text.c_str());
}
