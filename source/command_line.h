// The program's arguments: which form of the command was asked for, parsed into one record, and
// the calls of the library that carry it out, a folder's files one after another.
#pragma once

#include "platform.h"

// A pattern that the platform found no file for makes the run a usage error; a start from
// Explorer converts the files dropped on the program.
int runCommandLine(int argc, char** argv, PlatformStart start);
