// lyric2sysex: copies a Standard MIDI File, replacing every Text or Lyric event that starts with
// a lyric command by the SysEx event that shows or clears a lyric line on the instrument.
#include "command_line.h"
#include "platform.h"

int main(int argc, char* argv[]) {
    const PlatformStart start = platformStart(&argc, &argv);
    return runCommandLine(argc, argv, start);
}
