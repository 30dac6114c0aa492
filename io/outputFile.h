// Output that cannot fail silently: the checked end of a written stream, and the message
// that names a file which did not take every byte (a full disk, a failing device).
#pragma once

#include <cstdio>

// Flushes stream and, when close is set, closes it (also after a failure). 0 when every
// byte written to it arrived; else the errno value of the failure, or EIO when the failure
// left none (an earlier write failed and its reason is gone).
int finishOutput(FILE* stream, bool close);

// "could not write NAME: REASON\n" on log, REASON the text of error, after "WHO: " when who
// is not null; nothing when log is null.
void sayNotWritten(FILE* log, const char* who, const char* name, int error);
