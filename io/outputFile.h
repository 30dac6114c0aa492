// Output that cannot fail silently: the checked end of a written stream, and the message
// that names a file which did not take every byte (a full disk, a failing device).
#pragma once

#include <cstdio>

#include "Result.h"

// What a file operation gives back: status the errno value of its failure (0 when it
// succeeded) and message the system's text for that value (empty on success).
using FileStatus = brevo::Result<void>;

// The FileStatus of an errno value: success for 0, else the failure with the system's text.
FileStatus fileStatus(int error);

// Flushes stream and, when close is set, closes it (also after a failure). Success when
// every byte written to it arrived; else the errno value of the failure, or EIO when the
// failure left none (an earlier write failed and its reason is gone).
FileStatus finishOutput(FILE* stream, bool close);

// "could not write NAME: REASON\n" on log, REASON the message of why, after "WHO: " when
// who is not null; nothing when log is null.
void sayNotWritten(FILE* log, const char* who, const char* name, const FileStatus& why);
