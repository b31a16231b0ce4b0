#include "midiparse.h"

#include "trace.h"

MidiAnalysisStatus analyzed_status = {START_ANALYSIS, MSG_NOTHING};

namespace {

// Indexed by MidiEventType.
constexpr TraceText kTraceText[] = {
    traceText(""),      traceText("NOTE ON"),       traceText("NOTE OFF"),
    traceText("PBEND"), traceText("midi-sysex"),    traceText("CC"),
    traceText("PROG"),  traceText("PRESSURE"),      traceText("RPN"),
    traceText("NRPN"),  traceText("POLY PRESSURE"),
};

// Indexed by the high nibble of a channel status byte, 8 to E.
constexpr MidiEventType kChannelType[] = {
    MSG_NOTE_OFF, MSG_NOTE_ON, MSG_POLY_PRESSURE, MSG_CC, MSG_PROG, MSG_PRESSURE, MSG_PITCH,
};

bool hasOneDataByte(MidiEventType type) {
    return type == MSG_PROG || type == MSG_PRESSURE;
}

bool hasTwoDataBytes(MidiEventType type) {
    return type == MSG_NOTE_ON || type == MSG_NOTE_OFF || type == MSG_PITCH || type == MSG_CC ||
           type == MSG_POLY_PRESSURE;
}

AnalysisStatus afterDataByte(const MidiAnalysisStatus& status) {
    switch (status.stat) {
        case WAIT_DATA1:
            if (hasTwoDataBytes(status.type)) {
                return WAIT_DATA2;
            }
            return hasOneDataByte(status.type) ? END_ANALYSIS : START_ANALYSIS;
        case WAIT_DATA2:
            return END_ANALYSIS;
        case END_ANALYSIS:
            // Running status: the byte starts another message of the same kind.
            return hasOneDataByte(status.type) ? END_ANALYSIS : WAIT_DATA2;
        case START_ANALYSIS:
        case WAIT_SYSTEM_DATA:
        case IGNORE_DATA:
            break;
    }
    return status.stat;
}

void takeSystemByte(std::uint8_t byte) {
    if (byte == 0xF0) {
        analyzed_status = {WAIT_SYSTEM_DATA, MSG_SYSEX};
    } else if (byte == 0xF7) {
        if (analyzed_status.stat == WAIT_SYSTEM_DATA) {
            analyzed_status.stat = END_ANALYSIS;
        } else {
            analyzed_status = {IGNORE_DATA, MSG_SYSEX};
        }
    }
    // Other system bytes, real-time ones among them, may come anywhere and change nothing.
}

}  // namespace

bool midiEventIsGenerated(std::uint8_t midi_buf) {
    if (midi_buf >= 0xF0) {
        takeSystemByte(midi_buf);
        return false;
    }
    if (midi_buf >= 0x80) {
        analyzed_status = {WAIT_DATA1, kChannelType[(midi_buf >> 4) - 8]};
        return false;
    }
    analyzed_status.stat = afterDataByte(analyzed_status);
    if (analyzed_status.stat != END_ANALYSIS) {
        return false;
    }
    traceLine(kTraceText[analyzed_status.type]);
    return true;
}
