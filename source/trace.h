// What a conversion prints, into the caller's sink: the trace of the scan (a line per event and
// per command), or, in the quieter modes, only the lines that matter to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "failure.h"
#include "lyric2sysex.h"
#include "platform.h"

// Lines are gathered here and written to the sink in large blocks: a call into stdio for every
// event would cost more than the rest of the scan.
struct TraceBuffer {
    char text[kBlockSize];
    std::size_t used;
    TextSink sink;
    TraceMode mode;
    bool events_shown;  // the mode prints the lines of the scan
    bool failed;
    const char* input_name;  // how TRACE_SUMMARY names the files
    const char* output_name;
};
extern TraceBuffer trace;

// Starts the trace of a conversion afresh.
void setUpTrace(TraceMode mode, TextSink sink, const char* input_name, const char* output_name);
// The scan of an old output, which decides whether it may be replaced, prints no line.
inline void traceHideEvents(bool hidden) {
    trace.events_shown = !hidden && trace.mode == TRACE_EVENTS;
}
void flushTrace();
// False when any of the trace could not be written.
bool traceFlushed();

// Short texts only: a line, a number, a message.
inline void traceAppend(const char* text, std::size_t size) {
    if (size > sizeof trace.text - trace.used) {
        flushTrace();
    }
    std::memcpy(trace.text + trace.used, text, size);
    trace.used += size;
}

// A line of the scan, given with its newline.
inline void traceLine(std::string_view line) {
    if (trace.events_shown) {
        traceAppend(line.data(), line.size());
    }
}

// A line of the scan kept in a fixed, padded array with its newline, so that it is copied in one
// move of a known size: the lines of channel messages and commands, the most frequent ones.
struct TraceText {
    char text[sizeof "POLY PRESSURE\n"];
    std::size_t size;
};

template <std::size_t N>
constexpr TraceText traceText(const char (&line)[N]) {
    static_assert(N <= sizeof(TraceText::text), "a trace text must fit its padded array");
    TraceText padded{};
    std::size_t i = 0;
    for (; line[i] != '\0'; ++i) {
        padded.text[i] = line[i];
    }
    // The newline takes the place of the terminating null.
    padded.text[i] = '\n';
    padded.size = i + 1;
    return padded;
}

// The padding is copied with the line, then given back.
inline void traceLine(const TraceText& line) {
    if (trace.events_shown) {
        traceAppend(line.text, sizeof line.text);
        trace.used -= sizeof line.text - line.size;
    }
}

// A meta event's line, "ME %02X, size=%d", without a format string to parse for every one.
void traceMetaEvent(std::uint8_t type, std::uint32_t size);

// The words for a reason, an errno value or a FailureReason; null for 0.
const char* reasonText(int reason);
// The last lines of a failed run, as the mode prints them.
void traceFailure(const Failure& failure);
// The line of a completed conversion in TRACE_SUMMARY.
void traceConverted(std::uint32_t commands, std::uint32_t near_misses);
// A line of TRACE_LIST: "TRACK<TAB>TICKS<TAB>COMMAND", for an add command a tab and its text,
// given a byte at a time, then the end of the line.
void traceListed(std::uint32_t track, std::uint64_t ticks, std::string_view command, bool has_text);
void traceListedByte(std::uint8_t byte);
// The line of a near miss: "TRACK<TAB>TICKS<TAB>near<TAB>REASON<TAB>", its text to follow.
void traceNearMiss(std::uint32_t track, std::uint64_t ticks, NearMiss reason);
void traceListedEnd();
