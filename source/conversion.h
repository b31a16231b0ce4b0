// The conversion itself: the track index, the event scan, the recognition of commands and the
// SysEx splice, over the streams the library's entry point has opened.
#pragma once

#include <cstdint>

#include "lyric2sysex.h"

// What the scan is for: the conversion, the listing of the commands, or the probe of an old
// output, which only asks whether the file holds a command.
enum ScanMode { SCAN_CONVERT, SCAN_LIST, SCAN_PROBE };

// What the scan found, for the caller's result.
struct ScanSummary {
    std::uint32_t commands[LYRIC_COMMAND_COUNT];
    std::uint32_t near_misses;
    std::uint16_t format;
    std::uint16_t division;
};
extern ScanSummary scan_summary;

// Scans the whole input from fresh records: reads the header, builds the track index and scans
// every event, converting, listing or probing. A failure unwinds to failure_exit.
void scanInput(ScanMode mode, const Listener* listener);
