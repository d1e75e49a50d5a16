// File-system questions shared by both subsystems.
#pragma once

// 1 when a file or directory matches name (relative names resolve against the
// current directory), else 0.
int FileExists(const char* name);
