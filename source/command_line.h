// The program's arguments: which form of the command was asked for, parsed into one record, and
// the calls of the library that carry it out, a folder's files one after another.
#pragma once

int runCommandLine(int argc, char** argv);
