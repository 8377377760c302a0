// The run state record and its reset.
#include "extract/state.h"

#include <cstring>

ExtractionState g_run;

void ResetExtractionState() { std::memset(&g_run, 0, sizeof g_run); }
