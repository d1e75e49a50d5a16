// Storage for the process-wide settings and the titles.
#include "common/run_state.h"

RunStateRecord RunState;

const char ProductTitle[] = "Velmora Quillet Check 1.9";
const char ShortTitle[] = "Velmora Quillet";
