#include "trace.h"

#include <cstdio>

TraceBuffer trace;

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void append(std::string_view text) {
    traceAppend(text.data(), text.size());
}

// Standard output is unbuffered, so every write's failure shows in its result.
void writeOut(const char* text, std::size_t size) {
    if (std::fwrite(text, 1, size, stdout) != size) {
        trace.failed = true;
    }
}

// A path may be longer than the whole buffer: it goes straight to standard output.
void appendPath(const char* path) {
    flushTrace();
    writeOut(path, std::strlen(path));
}

// Appends the decimal digits of the value and returns the end of them.
char* appendDecimal(char* cursor, std::uint64_t value) {
    char digits[sizeof "18446744073709551615"];
    char* first = digits + sizeof digits;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    const auto count = static_cast<std::size_t>(digits + sizeof digits - first);
    std::memcpy(cursor, first, count);
    return cursor + count;
}

void appendNumber(std::uint64_t value) {
    char digits[sizeof "18446744073709551615"];
    append(
        std::string_view(digits, static_cast<std::size_t>(appendDecimal(digits, value) - digits)));
}

void appendPlace(FaultPlace place) {
    if (place.track == 0) {
        return;
    }
    append(" (track ");
    appendNumber(place.track);
    append(", byte ");
    appendNumber(place.offset);
    append(")");
}

bool isSummary() {
    return trace.mode == TRACE_SUMMARY || trace.mode == TRACE_SUMMARY_FAILURES;
}

}  // namespace

void setUpTrace(TraceMode mode) {
    trace.mode = mode;
    trace.events_shown = mode == TRACE_EVENTS;
    // The trace buffer gathers the lines already; a second buffer would only copy them again.
    std::setbuf(stdout, nullptr);
}

void flushTrace() {
    writeOut(trace.text, trace.used);
    trace.used = 0;
}

bool traceFlushed() {
    flushTrace();
    return !trace.failed;
}

void traceMetaEvent(std::uint8_t type, std::uint32_t size) {
    char line[sizeof "ME FF, size=4294967295\n"] = {
        'M', 'E', ' ', kHex[type >> 4], kHex[type & 0x0F], ',', ' ', 's', 'i', 'z', 'e', '='};
    char* end = appendDecimal(line + 12, size);
    *end++ = '\n';
    traceLine(std::string_view(line, static_cast<std::size_t>(end - line)));
}

void traceFailure(const char* message, FaultPlace place) {
    if (isSummary()) {
        appendPath(trace.input_name);
        append(": ");
    }
    append(message);
    if (trace.mode != TRACE_EVENTS) {
        appendPlace(place);
    }
    append(isSummary() ? "\n" : "\nERR\n");
}

void traceConverted(std::uint32_t commands) {
    if (trace.mode != TRACE_SUMMARY) {
        return;
    }
    appendPath(trace.input_name);
    append(" -> ");
    appendPath(trace.output_name);
    append(": ");
    appendNumber(commands);
    append(commands == 1 ? " command\n" : " commands\n");
}

void traceListed(std::uint32_t track, std::uint64_t ticks, std::string_view command,
                 bool has_text) {
    appendNumber(track);
    append("\t");
    appendNumber(ticks);
    append("\t");
    append(command);
    if (has_text) {
        append("\t");
    }
}

// Control bytes and the backslash are escaped so that a line stays one line and reads back
// unambiguously; every other byte is kept, whatever the text's encoding.
void traceListedByte(std::uint8_t byte) {
    const char escaped[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
    if (byte == '\\') {
        append("\\\\");
    } else if (byte < 0x20 || byte == 0x7F) {
        append(std::string_view(escaped, sizeof escaped));
    } else {
        append(std::string_view(reinterpret_cast<const char*>(&byte), 1));
    }
}

void traceListedEnd() {
    append("\n");
}
