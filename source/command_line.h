// The program's arguments: which form of the command was asked for, and the folder conversion,
// which runs every file's conversion in a process of its own.
#pragma once

int runCommandLine(int argc, char** argv);
