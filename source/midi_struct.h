// The converter's state: the track index, the scan and splice cursor and the two flags that
// every step of the conversion shares for the whole run.
#pragma once

#include <cstddef>
#include <cstdint>

// The index has a fixed size so that nothing is allocated; a header may declare at most one
// entry less than it holds.
constexpr std::uint32_t kTrackIndexSize = 1024;
constexpr std::uint32_t kMaxTracks = kTrackIndexSize - 1;

// The format word is not kept: nothing depends on it.
struct MidiHeader {
    std::uint16_t track_number;
};

struct MidiTrack {
    std::uint32_t data_length;     // the chunk's length field
    std::uint32_t start_position;  // input offset of the chunk's tag
};

struct MidiInfo {
    MidiHeader header;
    MidiTrack track[kTrackIndexSize];
};

// Offsets are file offsets, "in" ones in the input, "out" ones in the output. The input is at most
// 4 GiB, so its offsets have 32 bits, except where an event skipped past its end may leave one;
// the output may grow beyond.
struct MidiFileReadingInfo {
    std::uint32_t current_track_num;
    std::uint32_t pos_in_event_next;    // where the scanned event's delta time begins
    std::uint32_t len_event_delta;      // byte count of its delta time
    std::uint32_t len_event_var_size;   // byte count of the last meta event's length field
    std::uint32_t len_event_data_size;  // the last meta event's data length
    std::uint32_t len_out_event_var_size;
    std::uint32_t pos_in_current_track;
    std::uint64_t pos_in_after_event;
    std::uint64_t pos_out_current_track;  // the track's length field is 4 bytes further on
    std::uint64_t pos_out_after_sysex;
    std::uint32_t pos_in_after_com;  // the copy cursor: the output is complete up to here
    std::int64_t diff_track;         // size change of the current track so far
};

// The values count from 0 in this order; they index the command tables.
enum COMMAND : std::uint32_t {
    COM_ADD_UP,
    COM_ADD_LO,
    COM_DEL_UL,
    COM_DEL_UP,
    COM_DEL_LO,
    COM_NOMATCH,
};

struct VariableLengthInfo {
    std::uint8_t byte_length;
    std::uint32_t value;
};

extern MidiInfo in_midi_info;
extern MidiFileReadingInfo mInfo;
extern bool isEndMidiFile;
extern bool isFirstWriteAtTrack;

// Ends the conversion with the message.
[[noreturn]] void errexit(const char* message);

bool mReadHeaderAndTrack();
bool mReadTrackPosition();
void mProcess();
void mSearchTxtEvent();
void mJudgeTextEvent();
void writeSysExEvent(COMMAND active_com);
void writeFinalize();
void readVariableLength(VariableLengthInfo* vinfo);
void convertSizeToVariableLength(std::uint32_t input_size, std::uint8_t* var,
                                 std::uint8_t* var_len);
