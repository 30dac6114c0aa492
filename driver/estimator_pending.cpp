// Placeholder definitions of the analysis stages until they land; delete this file
// when the real stage sources exist.
#include "stages.h"

void fitThru(RunState&) {}
void pulseAndDibit(RunState&) {}
int equalisedIld(RunState&) { return 0; }
void budget(RunState&) {}
void crosstalk(RunState&) {}
void figuresOfMerit(RunState&) {}
