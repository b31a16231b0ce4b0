// The output file of a conversion: written through the sink it gives, and put in place of the
// output path only when the whole conversion has succeeded.
#pragma once

#include "lyric2sysex.h"

// Each is false, with the reason in errno, when it fails.
bool openOutputFile(const char* path, OutputSink* sink);
bool commitOutputFile();
// Ends the output, committed or not: what was not committed is removed. Safe to call at any
// time, also when nothing was created.
void closeOutputFile();
