// The please-wait box shown during extraction in interactive mode.
#pragma once

// Shows "Copying Files. Please wait." from a thread of its own, and returns
// once the box is up (or after two seconds at most).
int StartWaitNotice();

// Closes that box if it is on the screen; 1 when one was found.
int CloseWaitNotice();
