// A byte-at-a-time parser of a MIDI message stream: it tells when a channel message is complete,
// following running status, and prints the kind of each message it completes.
#pragma once

#include <cstdint>

// The values count from 0 in this order.
enum AnalysisStatus : std::uint32_t {
    START_ANALYSIS,    // idle: data bytes are ignored
    WAIT_DATA1,        // a channel status byte has been seen
    WAIT_DATA2,        // the first data byte has been seen
    WAIT_SYSTEM_DATA,  // inside system-exclusive data after F0
    END_ANALYSIS,      // the last byte completed a message
    IGNORE_DATA,       // an F7 came without an F0
};

// The values count from 0 in this order; they index the trace texts.
enum MidiEventType : std::uint32_t {
    MSG_NOTHING,
    MSG_NOTE_ON,
    MSG_NOTE_OFF,
    MSG_PITCH,
    MSG_SYSEX,
    MSG_CC,
    MSG_PROG,
    MSG_PRESSURE,
    MSG_RPN,
    MSG_NRPN,
    MSG_POLY_PRESSURE,
};

struct MidiAnalysisStatus {
    AnalysisStatus stat;
    MidiEventType type;
};

// Never reset during a run: running status carries across events and tracks.
extern MidiAnalysisStatus analyzed_status;

// True when this byte completed a message; its kind has then been traced.
bool midiEventIsGenerated(std::uint8_t midi_buf);
