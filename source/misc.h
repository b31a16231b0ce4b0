// Byte order, the trace, and the file access of the conversion: one read stream for the scan,
// a second one on the same file for the copy behind it, and an output that only replaces the
// output path once the run is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "midi_struct.h"

std::uint32_t convEndianU32(std::uint32_t src);

// Trace lines are gathered here and written to standard output in large blocks: a call into
// stdio for every event would cost more than the rest of the scan.
struct TraceBuffer {
    char text[64 * 1024];
    std::size_t used;
    bool flush_each_line;  // on a terminal the trace shows as the scan goes
    bool failed;
};
extern TraceBuffer trace;

void setUpTrace();
void flushTrace();
// False when any of the trace could not be written.
bool traceFlushed();

// The texts are short: a message or an event's line.
inline void traceLine(std::string_view text) {
    if (text.size() + 1 > sizeof trace.text - trace.used) {
        flushTrace();
    }
    std::memcpy(trace.text + trace.used, text.data(), text.size());
    trace.used += text.size();
    trace.text[trace.used++] = '\n';
    if (trace.flush_each_line) {
        flushTrace();
    }
}

// A trace line kept in a fixed, padded array with its newline, so that it is copied in one
// move of a known size.
struct TraceText {
    char text[16];
    std::size_t size;
};

template <std::size_t N>
constexpr TraceText traceText(const char (&line)[N]) {
    // The newline takes the place of the terminating null.
    static_assert(N <= sizeof(TraceText::text), "a trace text must fit its padded array");
    TraceText padded{};
    for (std::size_t i = 0; i + 1 < N; ++i) {
        padded.text[i] = line[i];
    }
    padded.text[N - 1] = '\n';
    padded.size = N;
    return padded;
}

inline void traceLine(const TraceText& line) {
    if (sizeof line.text > sizeof trace.text - trace.used) {
        flushTrace();
    }
    std::memcpy(trace.text + trace.used, line.text, sizeof line.text);
    trace.used += line.size;
    if (trace.flush_each_line) {
        flushTrace();
    }
}

// Opening and closing. Each of these ends the run with its message on failure.
void openInputFile(const char* path);
void refuseSameFile(const char* output_path);
void openOutputFile(const char* path);
void refuseLargeInput();
void commitOutputFile();
// Safe to call at any time; leaves the output path as it was before the run.
void discardOutputFile();

// Offsets are counted here rather than asked of the streams after every event.
struct StreamOffsets {
    std::uint64_t input;         // where the scan reads next
    std::uint64_t input_stream;  // where f_input really stands, while input_moved
    bool input_moved;            // a seek that the stream has not followed yet
    std::uint64_t copy;          // the copy cursor
    std::uint64_t output;
};
extern StreamOffsets stream_offsets;

// Brings f_input to the offset of the last seek; false if the input ends before it.
bool catchUpInput();

// The scan's input. A seek only records the offset: the stream follows at the next read, so
// seeking back and forth over the bytes of one event costs nothing. A read gives the next byte,
// or -1 at the end of the input.
inline int readInputByte() {
    if (stream_offsets.input_moved && !catchUpInput()) {
        return -1;
    }
    const int c = getc_unlocked(f_input);
    if (c == EOF) {
        return -1;
    }
    ++stream_offsets.input;
    return c;
}

inline void seekInput(std::uint64_t offset) {
    if (offset == stream_offsets.input) {
        return;
    }
    if (!stream_offsets.input_moved) {
        stream_offsets.input_stream = stream_offsets.input;
        stream_offsets.input_moved = true;
    }
    stream_offsets.input = offset;
}

inline std::uint64_t inputOffset() {
    return stream_offsets.input;
}

bool readInputBytes(std::uint8_t* bytes, std::size_t count);

// The copy cursor's input: copies [cursor, end) to the output; false if the input ends first.
bool copyInputTo(std::uint64_t end);
void seekCopy(std::uint64_t offset);

void writeOutputByte(std::uint8_t byte);
void writeOutputBytes(const std::uint8_t* bytes, std::size_t count);
void seekOutput(std::uint64_t offset);
std::uint64_t outputOffset();
