#include "trace.h"

#include <cstdio>

#include "platform.h"

TraceBuffer trace;

namespace {

void append(std::string_view text) {
    if (text.size() > sizeof trace.text - trace.used) {
        flushTrace();
    }
    // Longer than the buffer only for a path given on the command line.
    if (text.size() > sizeof trace.text) {
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
            trace.failed = true;
        }
        return;
    }
    std::memcpy(trace.text + trace.used, text.data(), text.size());
    trace.used += text.size();
}

void appendPlace(FaultPlace place) {
    if (place.track == 0) {
        return;
    }
    char text[64] = " (track ";
    char* cursor = appendDecimal(text + 8, place.track);
    std::memcpy(cursor, ", byte ", 7);
    cursor = appendDecimal(cursor + 7, place.offset);
    *cursor++ = ')';
    append(std::string_view(text, static_cast<std::size_t>(cursor - text)));
}

}  // namespace

void setUpTrace(TraceMode mode) {
    trace.mode = mode;
    trace.events_shown = mode == TRACE_EVENTS;
    trace.flush_each_line = platformStdoutIsTerminal();
    // The trace buffer gathers the lines already; a second buffer would only copy them again.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void flushTrace() {
    if (trace.used != 0 && std::fwrite(trace.text, 1, trace.used, stdout) != trace.used) {
        trace.failed = true;
    }
    trace.used = 0;
}

bool traceFlushed() {
    flushTrace();
    return !trace.failed && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

char* appendDecimal(char* cursor, std::uint64_t value) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        *cursor++ = digits[--count];
    }
    return cursor;
}

void traceFailure(const char* message, FaultPlace place) {
    const bool summary = trace.mode == TRACE_SUMMARY || trace.mode == TRACE_SUMMARY_FAILURES;
    if (summary) {
        append(trace.input_name);
        append(": ");
    }
    append(message);
    if (trace.mode != TRACE_EVENTS) {
        appendPlace(place);
    }
    append("\n");
    if (!summary) {
        append("ERR\n");
    }
}

void traceConverted(std::uint32_t commands) {
    if (trace.mode != TRACE_SUMMARY) {
        return;
    }
    append(trace.input_name);
    append(" -> ");
    append(trace.output_name);
    char text[32] = ": ";
    char* cursor = appendDecimal(text + 2, commands);
    const std::string_view noun = commands == 1 ? " command\n" : " commands\n";
    std::memcpy(cursor, noun.data(), noun.size());
    append(std::string_view(text, static_cast<std::size_t>(cursor - text) + noun.size()));
}

void traceListed(std::uint32_t track, std::uint64_t ticks, std::string_view command,
                 bool has_text) {
    char text[64];
    char* cursor = appendDecimal(text, track);
    *cursor++ = '\t';
    cursor = appendDecimal(cursor, ticks);
    *cursor++ = '\t';
    append(std::string_view(text, static_cast<std::size_t>(cursor - text)));
    append(command);
    if (has_text) {
        append("\t");
    }
}

// Control bytes and the backslash are escaped so that a line stays one line and reads back
// unambiguously; every other byte is kept, whatever the text's encoding.
void traceListedText(const std::uint8_t* text, std::size_t length) {
    constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t byte = text[i];
        if (sizeof trace.text - trace.used < 4) {
            flushTrace();
        }
        char* cursor = trace.text + trace.used;
        if (byte == '\\') {
            *cursor++ = '\\';
            *cursor++ = '\\';
        } else if (byte < 0x20 || byte == 0x7F) {
            *cursor++ = '\\';
            *cursor++ = 'x';
            *cursor++ = kHex[byte >> 4];
            *cursor++ = kHex[byte & 0x0F];
        } else {
            *cursor++ = static_cast<char>(byte);
        }
        trace.used = static_cast<std::size_t>(cursor - trace.text);
    }
}

void traceListedEnd() {
    append("\n");
    if (trace.flush_each_line) {
        flushTrace();
    }
}
