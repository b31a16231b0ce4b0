// A strict Standard MIDI File reader for the tests. It is written apart from the converter on
// purpose: an independent reading of the output is what lets a test catch the converter and its
// own idea of the format agreeing on the same mistake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace smf {

using ByteVector = std::vector<std::uint8_t>;

enum class EventKind { Channel, SysEx, Meta };

struct Event {
    std::size_t offset = 0;  // file offset of the delta time
    ByteVector raw;          // every byte of the event as stored, delta time included
    std::uint32_t delta = 0;
    std::size_t delta_size = 0;  // bytes the delta time takes in the file
    EventKind kind = EventKind::Channel;
    // Channel: the status in effect (also when the file leaves it out); SysEx: F0 or F7;
    // Meta: FF.
    std::uint8_t status = 0;
    bool running_status = false;  // a channel message stored without its status byte
    std::uint8_t meta_type = 0;   // meta events only
    // Channel: the one or two data bytes; SysEx: the bytes after the length, up to the
    // declared length (a closing F7 included); Meta: the bytes after the length.
    ByteVector data;
    std::uint32_t length = 0;  // SysEx and Meta: the value of the stored length field
};

struct Track {
    std::size_t offset = 0;  // file offset of the chunk tag
    std::uint32_t length_field = 0;
    std::vector<Event> events;
};

struct File {
    std::uint16_t format = 0;
    std::uint16_t track_count = 0;
    std::uint16_t division = 0;
    std::vector<Track> tracks;
};

struct Options {
    // The converter keeps running status from one track into the next; the standard starts
    // every track without one. Off, a data byte at the start of a track is an error.
    bool running_status_across_tracks = false;
};

struct ParseResult {
    File file;
    std::string error;  // empty when the whole file parsed
    bool ok() const { return error.empty(); }
};

// Parses a whole file. The header chunk must be "MThd" of length 6 with a format of 0, 1 or 2
// (format 0 with one track), followed by exactly the declared number of "MTrk" chunks and
// nothing else. Each track's events must fill its chunk exactly and end with FF 2F 00.
// Running status is kept across SysEx and meta events, as the converter does.
ParseResult parse(const ByteVector& bytes, const Options& options = {});

// Number of data bytes that follow a channel status byte (0x80 to 0xEF).
int channelDataCount(std::uint8_t status);

}  // namespace smf
