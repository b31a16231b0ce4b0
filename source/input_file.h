// The input file of a conversion: opened once, read at any offset through the reader it gives,
// and examined again at the end, so that a file changed meanwhile is not taken for the one read.
#pragma once

#include "lyric2sysex.h"

// False, with the reason in errno, when the path names no regular file that can be read.
bool openInputFile(const char* path, InputReader* reader);
// Safe to call at any time, also when nothing is open.
void closeInputFile();
// Whether the path names the open input file, through any link or other spelling.
bool isInputFile(const char* path);
// False when the input's size or times differ from what they were when it was opened.
bool inputUnchanged();
