// What the program prints on standard output: the trace of the scan (a line per event and per
// command), or, in the quieter modes, only the lines that matter to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

enum TraceMode : std::uint8_t {
    TRACE_EVENTS,   // every event and command, then the message and "ERR" on failure
    TRACE_QUIET,    // nothing on success; on failure the message with its place, then "ERR"
    TRACE_LIST,     // the lyric commands only; failures as in TRACE_QUIET
    TRACE_SUMMARY,  // one line per file, as a folder conversion prints them
    TRACE_SUMMARY_FAILURES,  // the same for the files that failed only
};

// Where in the input a failure lies: the track counted from 1 (0 when the failure has no place)
// and the offset at which the event or chunk at fault begins.
struct FaultPlace {
    std::uint32_t track;
    std::uint64_t offset;
};

// Trace lines are gathered here and written to standard output in large blocks: a call into
// stdio for every event would cost more than the rest of the scan.
struct TraceBuffer {
    char text[64 * 1024];
    std::size_t used;
    TraceMode mode;
    bool events_shown;     // the mode prints the lines of the scan
    bool flush_each_line;  // on a terminal the trace shows as the scan goes
    bool failed;
    const char* input_name;  // how TRACE_SUMMARY names the files
    const char* output_name;
};
extern TraceBuffer trace;

void setUpTrace(TraceMode mode);
void flushTrace();
// False when any of the trace could not be written.
bool traceFlushed();

inline void appendLine(std::string_view text) {
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

// The texts are short: a message or an event's line.
inline void traceLine(std::string_view text) {
    if (trace.events_shown) {
        appendLine(text);
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
    if (!trace.events_shown) {
        return;
    }
    if (sizeof line.text > sizeof trace.text - trace.used) {
        flushTrace();
    }
    std::memcpy(trace.text + trace.used, line.text, sizeof line.text);
    trace.used += line.size;
    if (trace.flush_each_line) {
        flushTrace();
    }
}

// Appends the decimal digits of the value and returns the end of them.
char* appendDecimal(char* cursor, std::uint64_t value);

// The last lines of a failed run, as the mode prints them.
void traceFailure(const char* message, FaultPlace place);
// The line of a completed conversion in TRACE_SUMMARY.
void traceConverted(std::uint32_t commands);
// A line of TRACE_LIST: "TRACK<TAB>TICKS<TAB>COMMAND", for an add command a tab and its text,
// given in pieces, then the end of the line.
void traceListed(std::uint32_t track, std::uint64_t ticks, std::string_view command, bool has_text);
void traceListedText(const std::uint8_t* text, std::size_t length);
void traceListedEnd();
