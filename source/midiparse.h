// A byte-at-a-time parser of a MIDI message stream: it tells when a channel message is complete,
// following running status, and prints the kind of each message it completes.
#pragma once

#include <cstdint>

enum AnalysisStatus : std::uint32_t {
    START_ANALYSIS = 0,    // idle: data bytes are ignored
    WAIT_DATA1 = 1,        // a channel status byte has been seen
    WAIT_DATA2 = 2,        // the first data byte has been seen
    WAIT_SYSTEM_DATA = 3,  // inside system-exclusive data after F0
    END_ANALYSIS = 4,      // the last byte completed a message
    IGNORE_DATA = 5,       // an F7 came without an F0
};

enum MidiEventType : std::uint32_t {
    MSG_NOTHING = 0,
    MSG_NOTE_ON = 1,
    MSG_NOTE_OFF = 2,
    MSG_PITCH = 3,
    MSG_SYSEX = 4,
    MSG_CC = 5,
    MSG_PROG = 6,
    MSG_PRESSURE = 7,
    MSG_RPN = 8,
    MSG_NRPN = 9,
    MSG_POLY_PRESSURE = 10,
};

struct MidiAnalysisStatus {
    AnalysisStatus stat;
    MidiEventType type;
};

// Never reset during a run: running status carries across events and tracks.
extern MidiAnalysisStatus analyzed_status;

// True when this byte completed a message; its kind has then been traced.
bool midiEventIsGenerated(std::uint8_t midi_buf);
