// How the commands speak: refusals and errors, and warnings, on standard
// error, each after "pack: ".
#pragma once

#include <string>

void Fail(const std::string& text);
void Warn(const std::string& text);
