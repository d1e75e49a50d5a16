// How long the child-process runners wait for a child's primary thread, in
// milliseconds. Variables rather than constants so that tests can lower them.
#pragma once

extern unsigned long ExtractorTimeLimit;  // 360000: 6 minutes
extern unsigned long ProgramTimeLimit;    // 2080000: 34 minutes 40 seconds
