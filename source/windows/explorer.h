// A program started from Explorer, by a double-click or with files dropped onto it, has a console
// window of its own, which closes as soon as the program ends.
#pragma once

// Says what the program is for, or converts each dropped file into one beside it, never replacing
// a file; then waits for a key, so that the window stays open to be read. Returns the exit status.
int runFromExplorer(int argc, char** argv);
