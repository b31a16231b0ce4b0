// Copies a Standard MIDI File, replacing every Text or Lyric event that starts with a lyric
// command by the SysEx event that shows or clears a lyric line on the instrument.
#include "conversion.h"

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstring>
#include <string_view>

#include "failure.h"
#include "midi_struct.h"
#include "midiparse.h"
#include "misc.h"
#include "streams.h"
#include "trace.h"

MidiInfo in_midi_info;
MidiFileReadingInfo mInfo;
bool isEndMidiFile;
bool isFirstWriteAtTrack;
ScanSummary scan_summary;

namespace {

constexpr std::size_t kCommandLength = 8;
// The commands come before COM_NOMATCH.
constexpr std::size_t kCommandCount = COM_NOMATCH;

// Indexed by COMMAND; a text byte matches when it equals the byte of either spelling at its
// position.
constexpr std::uint8_t command_list[kCommandCount][kCommandLength] = {
    {'$', 'A', 'D', 'D', '_', 'U', 'P', '$'}, {'$', 'A', 'D', 'D', '_', 'L', 'O', '$'},
    {'$', 'D', 'E', 'L', '_', 'U', 'L', '$'}, {'$', 'D', 'E', 'L', '_', 'U', 'P', '$'},
    {'$', 'D', 'E', 'L', '_', 'L', 'O', '$'},
};
constexpr std::uint8_t command_list2[kCommandCount][kCommandLength] = {
    {'$', 'A', 'D', 'D', '_', 'H', 'I', '$'}, {'$', 'A', 'D', 'D', '_', 'L', 'O', '$'},
    {'$', 'D', 'E', 'L', '_', 'H', 'L', '$'}, {'$', 'D', 'E', 'L', '_', 'H', 'I', '$'},
    {'$', 'D', 'E', 'L', '_', 'L', 'O', '$'},
};

constexpr std::size_t kHeaderLength = 6;
constexpr std::uint8_t write_add_up[kHeaderLength] = {0x00, 0x48, 0x05, 0x7F, 0x07, 0x00};
constexpr std::uint8_t write_add_lo[kHeaderLength] = {0x00, 0x48, 0x05, 0x7F, 0x07, 0x01};
constexpr std::uint8_t write_del_ul[kHeaderLength] = {0x00, 0x48, 0x05, 0x7F, 0x06, 0x00};
constexpr std::uint8_t write_del_up[kHeaderLength] = {0x00, 0x48, 0x05, 0x7F, 0x06, 0x01};
constexpr std::uint8_t write_del_lo[kHeaderLength] = {0x00, 0x48, 0x05, 0x7F, 0x06, 0x02};
constexpr const std::uint8_t* kSysExHeader[kCommandCount] = {
    write_add_up, write_add_lo, write_del_ul, write_del_up, write_del_lo,
};
constexpr std::string_view kCommandName[kCommandCount] = {"ADD_UP", "ADD_LO", "DEL_UL", "DEL_UP",
                                                          "DEL_LO"};
constexpr TraceText kCommandTrace[kCommandCount] = {
    traceText("COM ADD_UP"), traceText("COM ADD_LO"), traceText("COM DEL_UL"),
    traceText("COM DEL_UP"), traceText("COM DEL_LO"),
};

// A variable-length number has four bytes at most.
constexpr std::uint8_t kMaxVariableLengthBytes = 4;
// The longest text of an add command: its SysEx length, two bytes per text byte and seven more,
// is then the largest value a four-byte variable-length number holds.
constexpr std::uint32_t kMaxAddPayload = 134217724;
static_assert(2 * kMaxAddPayload + 7 == 0x0FFFFFFF, "the longest SysEx length");
constexpr std::uint8_t kSysExStart = 0xF0;

constexpr std::uint64_t kFormatOffset = 8;
constexpr std::uint64_t kFirstTrackLengthOffset = 18;
// A chunk's tag and length field precede its data.
constexpr std::uint32_t kChunkHeaderLength = 8;

constexpr char kHeaderTag[] = "MThd";

// What the scan adds to the conversion's records: the time of the event in its track, for the
// listing, what the scan is for, and who listens to it.
std::uint64_t track_ticks;
ScanMode scan_mode = SCAN_CONVERT;
const Listener* listener = nullptr;

// Where the track index failed: the chunk at fault.
const char* index_fault = nullptr;
FaultPlace index_fault_place{};

[[noreturn]] void errexitAt(const char* message, FaultPlace place) {
    failWith(message, nullptr, 0, place);
}

// A failure of the event being scanned.
[[noreturn]] void errexitInEvent(const char* message) {
    errexitAt(message, FaultPlace{mInfo.current_track_num + 1, mInfo.pos_in_event_next});
}

inline std::uint8_t readEventByte() {
    const int byte = readInputByte();
    if (byte == EOF) {
        errexitInEvent("unexpected end of file");
    }
    return static_cast<std::uint8_t>(byte);
}

bool readChunkLength(std::uint32_t& length) {
    std::uint8_t bytes[4];
    if (!readInputBytes(bytes, sizeof bytes)) {
        return false;
    }
    // The four bytes as a little-endian host loads them; the chunk stores them big-endian.
    const std::uint32_t loaded =
        bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    length = convEndianU32(loaded);
    return true;
}

// False at the end of the input, which stays there for the second byte too.
bool readBigEndian16(std::uint16_t& value) {
    const int high = readInputByte();
    const int low = readInputByte();
    if (low == EOF) {
        return false;
    }
    value = static_cast<std::uint16_t>(high << 8 | low);
    return true;
}

const MidiTrack& currentTrack() {
    return in_midi_info.track[mInfo.current_track_num];
}

// Past 4 GiB for a track that declares more than the file can hold: never wrapped round.
std::uint64_t currentTrackEnd() {
    return std::uint64_t{currentTrack().start_position} + currentTrack().data_length +
           kChunkHeaderLength;
}

// An event begins inside the file. Where the scan stands at its end, the track runs past it;
// beyond, the event before, which the scan skipped by its length.
void refuseEventPastTheEnd() {
    if (inputOffset() >= inputSize()) {
        errexitAt("unexpected end of file",
                  FaultPlace{mInfo.current_track_num + 1, inputOffset() > inputSize()
                                                              ? mInfo.pos_in_event_next
                                                              : currentTrack().start_position});
    }
}

void skipSysExEvent() {
    VariableLengthInfo length;
    readVariableLength(&length);
    seekInput(inputOffset() + length.value);
    traceLine("SysEx\n");
}

// Tempo and time signature events, for a listener that places the commands in time. Only those
// whole inside the file are read: one cut short fails the scan where it always did.
void reportTiming(std::uint8_t type, std::uint32_t size) {
    if (listener == nullptr || inputOffset() + size > inputSize()) {
        return;
    }
    std::uint8_t bytes[3];
    if (type == 0x51 && size == 3 && listener->tempo != nullptr) {
        readInputBytes(bytes, sizeof bytes);
        listener->tempo(listener->context, mInfo.current_track_num + 1, track_ticks,
                        std::uint32_t{bytes[0]} << 16 | bytes[1] << 8 | bytes[2]);
    } else if (type == 0x58 && size >= 2 && listener->time_signature != nullptr) {
        readInputBytes(bytes, 2);
        listener->time_signature(listener->context, mInfo.current_track_num + 1, track_ticks,
                                 bytes[0], bytes[1]);
    }
}

// Returns whether the event is a text candidate: a Text or a Lyric event.
bool skipMetaEvent() {
    const std::uint8_t type = readEventByte();
    VariableLengthInfo length;
    readVariableLength(&length);
    mInfo.len_event_var_size = length.byte_length;
    mInfo.len_event_data_size = length.value;
    const std::uint64_t data = inputOffset();
    reportTiming(type, length.value);
    seekInput(data + length.value);
    traceMetaEvent(type, length.value);
    return type == 0x01 || type == 0x05;
}

// A message ends at its track's end at the latest: one that ran on into the next tracks would
// have them scanned again from their start, each of them, at a cost that grows with the square
// of the file's size.
void readChannelMessage(std::uint8_t first) {
    const std::uint64_t track_end = currentTrackEnd();
    std::uint8_t byte = first;
    while (!midiEventIsGenerated(byte) && inputOffset() < track_end) {
        byte = readEventByte();
    }
}

// The current track's length with the conversions made in it so far.
std::int64_t convertedTrackLength() {
    return in_midi_info.track[mInfo.current_track_num].data_length + mInfo.diff_track;
}

// The length field of a track is written once, when the track is finished: the output is not
// the output path until the run is complete, so the result equals rewriting it after every
// command.
void writeTrackLength() {
    const auto length = static_cast<std::uint32_t>(convertedTrackLength());
    const std::uint32_t swapped = convEndianU32(length);
    const std::uint8_t field[4] = {
        static_cast<std::uint8_t>(swapped), static_cast<std::uint8_t>(swapped >> 8),
        static_cast<std::uint8_t>(swapped >> 16), static_cast<std::uint8_t>(swapped >> 24)};
    seekOutput(mInfo.pos_out_current_track + 4);
    writeOutputBytes(field, sizeof field);
    seekOutput(mInfo.pos_out_after_sysex);
}

void finishTrack() {
    if (!isFirstWriteAtTrack) {
        writeTrackLength();
    }
    ++mInfo.current_track_num;
    mInfo.diff_track = 0;
    isFirstWriteAtTrack = true;
    track_ticks = 0;
    if (mInfo.current_track_num == in_midi_info.header.track_number) {
        isEndMidiFile = true;
        // A failure of the final copy belongs to the last event scanned.
        --mInfo.current_track_num;
        writeFinalize();
        return;
    }
    seekInput(in_midi_info.track[mInfo.current_track_num].start_position + kChunkHeaderLength);
}

bool isAddCommand(COMMAND command) {
    return command == COM_ADD_UP || command == COM_ADD_LO;
}

// A byte of a text listed, of an add command or a near miss, which the listener hears too.
std::uint8_t readTextByte() {
    const std::uint8_t byte = readEventByte();
    if (listener != nullptr && listener->text != nullptr) {
        listener->text(listener->context, &byte, 1);
    }
    return byte;
}

bool matchesCommand(const std::uint8_t* text, std::size_t command) {
    for (std::size_t k = 0; k < kCommandLength; ++k) {
        if (text[k] != command_list[command][k] && text[k] != command_list2[command][k]) {
            return false;
        }
    }
    return true;
}

// How many of the first count bytes of the text are neither spelling's byte at their position.
std::size_t mismatches(const std::uint8_t* text, std::size_t count, std::size_t command) {
    std::size_t found = 0;
    for (std::size_t k = 0; k < count; ++k) {
        found += text[k] != command_list[command][k] && text[k] != command_list2[command][k];
    }
    return found;
}

template <typename Rule>
bool anyCommand(Rule rule) {
    for (std::size_t command = 0; command < kCommandCount; ++command) {
        if (rule(command)) {
            return true;
        }
    }
    return false;
}

// The program never sets a locale: in the C locale only ASCII letters change.
std::uint8_t upperCase(std::uint8_t byte) {
    return static_cast<std::uint8_t>(std::toupper(byte));
}

bool isBlank(int byte) {
    return byte == ' ' || byte == '\t';
}

// Whether the text of the size at the offset, after the blanks it begins with, is a command.
bool isCommandAfterBlanks(std::uint64_t text_start, std::uint32_t size) {
    seekInput(text_start);
    std::uint32_t blanks = 0;
    while (blanks < size && isBlank(readInputByte())) {
        ++blanks;
    }
    std::uint8_t text[kCommandLength];
    seekInput(text_start + blanks);
    return blanks != 0 && size - blanks >= kCommandLength && readInputBytes(text, sizeof text) &&
           anyCommand([&text](std::size_t command) { return matchesCommand(text, command); });
}

// The first rule of the near misses that a text which is no command breaks, NEAR_MISS_KINDS for
// none; head holds its first bytes, seven or eight.
NearMiss nearMissOf(const std::uint8_t* head, std::size_t size, std::uint64_t text_start) {
    std::uint8_t upper[kCommandLength];
    std::transform(head, head + size, upper, upperCase);
    const bool whole = size == kCommandLength;
    if (whole && anyCommand([&upper](std::size_t c) { return matchesCommand(upper, c); })) {
        return NEAR_LOWER_CASE;
    }
    if (isCommandAfterBlanks(text_start, mInfo.len_event_data_size)) {
        return NEAR_BLANKS_BEFORE;
    }
    // A text whose first seven bytes are a command's is one only with "$" as its eighth.
    if (anyCommand(
            [head](std::size_t c) { return mismatches(head, kCommandLength - 1, c) == 0; })) {
        return NEAR_NO_CLOSING_DOLLAR;
    }
    if (whole &&
        anyCommand([head](std::size_t c) { return mismatches(head, kCommandLength, c) == 1; })) {
        return NEAR_ONE_DIFFERENT;
    }
    return NEAR_MISS_KINDS;
}

// The near miss is heard by the listener and, in the listing, printed, with its whole text.
void reportNearMiss(NearMiss reason, std::uint64_t text_start, std::uint32_t size) {
    const bool listing = scan_mode == SCAN_LIST;
    if (listener != nullptr && listener->near_miss != nullptr) {
        listener->near_miss(listener->context, mInfo.current_track_num + 1, track_ticks, reason);
    }
    if (!listing && (listener == nullptr || listener->text == nullptr)) {
        return;
    }
    if (listing) {
        traceNearMiss(mInfo.current_track_num + 1, track_ticks, reason);
    }
    seekInput(text_start);
    for (std::uint32_t i = 0; i < size; ++i) {
        const std::uint8_t byte = readTextByte();
        if (listing) {
            traceListedByte(byte);
        }
    }
    if (listing) {
        traceListedEnd();
    }
}

// A Text or Lyric event that is no command may be a near miss: counted, heard and listed, never
// converted. Only an event whole inside the file is read: one cut short fails the scan where it
// always did.
void noteNearMiss() {
    const std::uint32_t size = mInfo.len_event_data_size;
    if (size < kCommandLength - 1 || mInfo.pos_in_after_event > inputSize()) {
        return;
    }
    const std::uint64_t text_start = std::uint64_t{mInfo.pos_in_event_next} +
                                     mInfo.len_event_delta + mInfo.len_event_var_size + 2;
    std::uint8_t head[kCommandLength];
    const std::size_t head_size = std::min<std::size_t>(size, kCommandLength);
    seekInput(text_start);
    readInputBytes(head, head_size);
    const NearMiss reason = nearMissOf(head, head_size, text_start);
    if (reason != NEAR_MISS_KINDS) {
        ++scan_summary.near_misses;
        reportNearMiss(reason, text_start, size);
    }
}

// Conversions that would corrupt the output are refused before anything of the event is written
// or listed.
void refuseUnsafeCommand(COMMAND active_com, std::uint32_t payload_length) {
    if (mInfo.pos_in_after_event > currentTrackEnd()) {
        errexitInEvent("text event runs past end of track");
    }
    if (isAddCommand(active_com) && payload_length > kMaxAddPayload) {
        errexitInEvent("text too long");
    }
    if (mInfo.pos_in_after_event > inputSize()) {
        errexitInEvent("unexpected end of file");
    }
}

// Brings the output up to the text event, its delta time included.
void copyUpToTextEvent() {
    if (isFirstWriteAtTrack) {
        mInfo.pos_in_current_track = in_midi_info.track[mInfo.current_track_num].start_position;
        copyInputTo(mInfo.pos_in_current_track);
        mInfo.pos_out_current_track = outputOffset();
        isFirstWriteAtTrack = false;
    }
    copyInputTo(std::uint64_t{mInfo.pos_in_event_next} + mInfo.len_event_delta);
}

// Every payload byte becomes two data bytes, its high and its low nibble, so that any byte value
// passes through the 7-bit body of a SysEx message.
void writeNibbles(std::uint32_t payload_length) {
    for (std::uint32_t i = 0; i < payload_length; ++i) {
        const std::uint8_t byte = readTextByte();
        writeOutputByte(byte >> 4);
        writeOutputByte(byte & 0x0F);
    }
}

// The command's line of the listing; the input stands on the first payload byte.
void listCommand(COMMAND active_com, std::uint32_t payload_length) {
    traceListed(mInfo.current_track_num + 1, track_ticks, kCommandName[active_com],
                isAddCommand(active_com));
    for (std::uint32_t i = 0; isAddCommand(active_com) && i < payload_length; ++i) {
        traceListedByte(readTextByte());
    }
    traceListedEnd();
}

// The place of the chunk of track i, whose tag is at the offset. A chunk that would begin at the
// end of the file or past it is not there: the chunk before it, the last one the file holds, is
// the one that is cut short (none when that is the header).
FaultPlace chunkPlace(std::uint32_t i, std::uint64_t tag) {
    if (tag < inputSize()) {
        return FaultPlace{i + 1, tag};
    }
    return i == 0 ? FaultPlace{} : FaultPlace{i, in_midi_info.track[i - 1].start_position};
}

// The header chunk: its tag, then the format and the track count.
void readHeader() {
    std::uint8_t tag[4];
    if (!readInputBytes(tag, sizeof tag) || std::memcmp(tag, kHeaderTag, sizeof tag) != 0) {
        errexit("not a MIDI file");
    }
    if (!mReadHeaderAndTrack()) {
        errexit("unexpected end of file");
    }
    if (in_midi_info.header.track_number > kMaxTracks) {
        errexit("too many tracks");
    }
    if (in_midi_info.header.track_number == 0) {
        errexit("no tracks");
    }
    if (!mReadTrackPosition()) {
        errexitAt(index_fault, index_fault_place);
    }
}

// Every record as it is when the program starts.
void startFresh() {
    in_midi_info = MidiInfo{};
    mInfo = MidiFileReadingInfo{};
    isEndMidiFile = false;
    isFirstWriteAtTrack = true;
    analyzed_status = {START_ANALYSIS, MSG_NOTHING};
    track_ticks = 0;
    scan_summary = ScanSummary{};
}

}  // namespace

void errexit(const char* message) {
    errexitAt(message, FaultPlace{});
}

void readVariableLength(VariableLengthInfo* vinfo) {
    std::uint32_t value = 0;
    std::uint8_t count = 0;
    std::uint8_t byte;
    do {
        // A fifth byte: the fourth still had its continuation bit set.
        if (count == kMaxVariableLengthBytes) {
            errexitInEvent("variable-length number too long");
        }
        byte = readEventByte();
        value = (value << 7) | (byte & 0x7F);
        ++count;
    } while ((byte & 0x80) != 0);
    vinfo->byte_length = count;
    vinfo->value = value;
}

void convertSizeToVariableLength(std::uint32_t input_size, std::uint8_t* var,
                                 std::uint8_t* var_len) {
    // The caller keeps the value within four bytes' 28 bits.
    std::uint8_t count = 1;
    while ((input_size >> (7 * count)) != 0) {
        ++count;
    }
    for (int i = count - 1; i >= 0; --i) {
        var[i] = static_cast<std::uint8_t>(0x80 | (input_size & 0x7F));
        input_size >>= 7;
    }
    var[count - 1] &= 0x7F;
    *var_len = count;
}

// Every format is converted alike; the format is the caller's to know.
bool mReadHeaderAndTrack() {
    seekInput(kFormatOffset);
    if (!readBigEndian16(scan_summary.format) ||
        !readBigEndian16(in_midi_info.header.track_number)) {
        return false;
    }
    // The division is the caller's, to place the commands in time; a file cut short before it
    // fails later, where the first track would begin.
    readBigEndian16(scan_summary.division);
    return true;
}

// Every track must begin at or after the end of the one before it: a length that stepped the
// index backwards would make the scan pass over the same bytes again and again.
bool mReadTrackPosition() {
    const std::uint32_t count = in_midi_info.header.track_number;
    seekInput(kFirstTrackLengthOffset);
    // The index ends with the last track, whose length is read but not stepped over.
    for (std::uint32_t i = 0;; ++i) {
        MidiTrack& track = in_midi_info.track[i];
        index_fault_place = chunkPlace(i, inputOffset() - kChunkHeaderLength + 4);
        index_fault = "unexpected end of file";
        if (!readChunkLength(track.data_length)) {
            return false;
        }
        track.start_position = static_cast<std::uint32_t>(inputOffset() - kChunkHeaderLength);
        if (i >= count - 1) {
            break;
        }
        // Over the track's data and the next chunk's tag: a signed 32-bit step, which a length
        // of 2 GiB or more wraps round, back onto the track or before the file.
        const std::int64_t next_length_field = std::int64_t{track.start_position} +
                                               kChunkHeaderLength +
                                               static_cast<std::int32_t>(track.data_length + 4);
        const std::int64_t next_start = next_length_field - 4;
        if (next_start !=
            std::int64_t{track.start_position} + kChunkHeaderLength + track.data_length) {
            index_fault = "track overlaps previous track";
            // A chunk that would begin before the file is placed at its start.
            index_fault_place = FaultPlace{
                i + 2, static_cast<std::uint64_t>(std::max<std::int64_t>(next_start, 0))};
            return false;
        }
        seekInput(static_cast<std::uint64_t>(next_length_field));
    }
    // The step onto the last byte of the last track is a signed 32-bit one too: a length over 2 GiB
    // turns it backwards, and it fails before the start of the file. The scan starts afresh.
    const std::int64_t last_byte =
        static_cast<std::int64_t>(inputOffset()) +
        static_cast<std::int32_t>(in_midi_info.track[count - 1].data_length - 1);
    return last_byte >= 0;
}

// The scan starts at track 0, where the zeroed records stand.
void mProcess() {
    seekInput(in_midi_info.track[0].start_position + kChunkHeaderLength);
    while (!isEndMidiFile) {
        mSearchTxtEvent();
    }
}

void mSearchTxtEvent() {
    refuseEventPastTheEnd();
    mInfo.pos_in_event_next = static_cast<std::uint32_t>(inputOffset());
    VariableLengthInfo delta;
    readVariableLength(&delta);
    mInfo.len_event_delta = delta.byte_length;
    track_ticks += delta.value;
    const std::uint8_t first = readEventByte();
    bool is_text_candidate = false;
    if (first == 0xF0 || first == 0xF7) {
        skipSysExEvent();
    } else if (first == 0xFF) {
        is_text_candidate = skipMetaEvent();
    } else {
        readChannelMessage(first);
    }
    mInfo.pos_in_after_event = inputOffset();
    if (is_text_candidate) {
        mJudgeTextEvent();
    }
    if (currentTrackEnd() > mInfo.pos_in_after_event) {
        seekInput(mInfo.pos_in_after_event);
        return;
    }
    finishTrack();
}

// Copies the rest of the input: the end of the last track, and whatever the file holds after
// it (further chunks, a second song), which is not the converter's to drop.
void writeFinalize() {
    if (mInfo.pos_in_after_event > inputSize()) {
        errexitInEvent("unexpected end of file");
    }
    if (scan_mode == SCAN_CONVERT) {
        copyInputToEnd();
    }
}

void mJudgeTextEvent() {
    seekInput(mInfo.pos_in_event_next);
    if (mInfo.len_event_data_size < kCommandLength) {
        noteNearMiss();
        return;
    }
    seekInput(inputOffset() + mInfo.len_event_delta + mInfo.len_event_var_size + 2);
    std::uint8_t text[kCommandLength];
    for (std::uint8_t& byte : text) {
        byte = readEventByte();
    }
    for (std::size_t command = 0; command < kCommandCount; ++command) {
        if (matchesCommand(text, command)) {
            writeSysExEvent(static_cast<COMMAND>(command));
            return;
        }
    }
    noteNearMiss();
}

void writeSysExEvent(COMMAND active_com) {
    if (scan_mode == SCAN_PROBE) {
        std::longjmp(failure_exit, kCommandFound);
    }
    traceLine(kCommandTrace[active_com]);
    ++scan_summary.commands[active_com];
    if (listener != nullptr && listener->command != nullptr) {
        listener->command(listener->context, mInfo.current_track_num + 1, track_ticks,
                          static_cast<LyricCommand>(active_com));
    }
    const std::uint32_t payload_length = mInfo.len_event_data_size - kCommandLength;
    refuseUnsafeCommand(active_com, payload_length);
    if (scan_mode == SCAN_LIST) {
        listCommand(active_com, payload_length);
        return;
    }
    const std::uint32_t sysex_length = isAddCommand(active_com) ? payload_length * 2 + 7 : 7;
    std::uint8_t length_field[kMaxVariableLengthBytes];
    std::uint8_t length_field_size;
    convertSizeToVariableLength(sysex_length, length_field, &length_field_size);
    mInfo.len_out_event_var_size = length_field_size;
    const std::uint32_t text_size = mInfo.len_event_var_size + mInfo.len_event_data_size + 2;
    const std::uint32_t sysex_size = 1 + mInfo.len_out_event_var_size + sysex_length;
    mInfo.diff_track += std::int64_t{sysex_size} - std::int64_t{text_size};
    // The track's length field has 32 bits; a track that would outgrow them is refused before
    // anything of it is written.
    if (static_cast<std::uint32_t>(convertedTrackLength()) != convertedTrackLength()) {
        errexitInEvent("file too large");
    }
    copyUpToTextEvent();
    writeOutputByte(kSysExStart);
    writeOutputBytes(length_field, length_field_size);
    writeOutputBytes(kSysExHeader[active_com], kHeaderLength);
    seekInput(std::uint64_t{mInfo.pos_in_event_next} + mInfo.len_event_delta +
              mInfo.len_event_var_size + 2 + kCommandLength);
    if (isAddCommand(active_com)) {
        writeNibbles(payload_length);
    }
    writeOutputByte(0xF7);
    mInfo.pos_out_after_sysex = outputOffset();
    mInfo.pos_in_after_com = mInfo.pos_in_event_next + mInfo.len_event_delta +
                             mInfo.len_event_var_size + mInfo.len_event_data_size + 2;
    seekCopy(mInfo.pos_in_after_com);
}

void scanInput(ScanMode mode, const Listener* scan_listener) {
    startFresh();
    scan_mode = mode;
    listener = scan_listener;
    if (static_cast<std::uint32_t>(inputSize()) != inputSize()) {
        errexit("file too large");
    }
    readHeader();
    mProcess();
}
