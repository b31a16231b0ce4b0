#include "trace.h"

#include <cerrno>

#include "terminal_text.h"

TraceBuffer trace;

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The reasons in the program's own words, the same on every system whatever its C library says.
struct ReasonText {
    int reason;
    const char* text;
};
constexpr ReasonText kReasons[] = {
    {ENOENT, "No such file or directory"},
    {EACCES, "Permission denied"},
    {EPERM, "Operation not permitted"},
    {ENOSPC, "No space left on device"},
#ifdef EDQUOT
    {EDQUOT, "Disk quota exceeded"},
#endif
    {EROFS, "Read-only file system"},
    {EIO, "Input/output error"},
    {EISDIR, "Is a directory"},
    {ENOTDIR, "Not a directory"},
    {ENAMETOOLONG, "File name too long"},
    {ELOOP, "Too many levels of symbolic links"},
    {EFBIG, "File too large"},
    {EMFILE, "Too many open files"},
    {ENFILE, "Too many open files in system"},
    {ENOMEM, "Cannot allocate memory"},
    {EBUSY, "Device or resource busy"},
    {EINVAL, "Invalid argument"},
    {ENXIO, "No such device or address"},
    {EEXIST, "File exists"},
    {REASON_NO_FREE_HIDDEN_NAME, "no free name for a hidden file beside it"},
    {REASON_LINK_OF_ANOTHER_USER, "a link in a shared folder, made by another user"},
    {REASON_FILE_OF_ANOTHER_USER, "a file in a shared folder, owned by another user"},
    {REASON_NOT_A_REGULAR_FILE, "not a regular file"},
    {REASON_OUTPUT_IS_A_SONG,
     "it holds lyric commands, so it is a song, not a converted file (-f replaces it anyway)"},
};

void append(std::string_view text) {
    traceAppend(text.data(), text.size());
}

void appendPiece(const char* text, std::size_t size) {
    traceAppend(text, size);
}

// A caller that gives no sink wants no trace.
void writeOut(const char* text, std::size_t size) {
    if (size != 0 && trace.sink.write != nullptr &&
        !trace.sink.write(trace.sink.context, text, size)) {
        trace.failed = true;
    }
}

void appendPath(const char* path) {
    putTerminalName(appendPiece, path);
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

// The text of the command being listed, escaped as it comes.
TerminalText listed_text;

bool isSummary() {
    return trace.mode == TRACE_SUMMARY || trace.mode == TRACE_SUMMARY_FAILURES;
}

}  // namespace

void setUpTrace(TraceMode mode, TextSink sink, const char* input_name, const char* output_name) {
    trace.used = 0;
    trace.sink = sink;
    trace.mode = mode;
    trace.events_shown = mode == TRACE_EVENTS;
    trace.failed = false;
    trace.input_name = input_name;
    trace.output_name = output_name;
}

const char* reasonText(int reason) {
    if (reason == 0) {
        return nullptr;
    }
    for (const ReasonText& known : kReasons) {
        if (known.reason == reason) {
            return known.text;
        }
    }
    return "unknown error";
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

void traceFailure(const Failure& failure) {
    if (isSummary()) {
        appendPath(trace.input_name);
        append(": ");
    }
    append(failure.message);
    // A folder conversion's line begins with the input's name already.
    if (failure.file != nullptr &&
        !(isSummary() && std::strcmp(failure.file, trace.input_name) == 0)) {
        append(": ");
        appendPath(failure.file);
    }
    if (failure.reason != 0) {
        append(": ");
        append(reasonText(failure.reason));
    }
    appendPlace(failure.place);
    append(isSummary() || trace.mode == TRACE_MESSAGE ? "\n" : "\nERR\n");
}

// "N commands", and where there are any, ", M near misses"; a file without a command is one
// whose conversion changed nothing, which the line says.
void traceConverted(std::uint32_t commands, std::uint32_t near_misses) {
    if (trace.mode != TRACE_SUMMARY) {
        return;
    }
    appendPath(trace.input_name);
    append(" -> ");
    appendPath(trace.output_name);
    append(": ");
    appendNumber(commands);
    append(commands == 1 ? " command" : " commands");
    if (near_misses != 0) {
        append(", ");
        appendNumber(near_misses);
        append(near_misses == 1 ? " near miss" : " near misses");
    }
    append(commands == 0 ? ": no lyric commands in this file\n" : "\n");
}

void traceListed(std::uint32_t track, std::uint64_t ticks, std::string_view command,
                 bool has_text) {
    listed_text = TerminalText{appendPiece, true};
    appendNumber(track);
    append("\t");
    appendNumber(ticks);
    append("\t");
    append(command);
    if (has_text) {
        append("\t");
    }
}

void traceNearMiss(std::uint32_t track, std::uint64_t ticks, NearMiss reason) {
    constexpr std::string_view kReasons[NEAR_MISS_KINDS] = {
        "lower-case letters", "blanks before the command", "no closing $",
        "one character different"};
    traceListed(track, ticks, "near", true);
    append(kReasons[reason]);
    append("\t");
}

void traceListedByte(std::uint8_t byte) {
    putTerminalByte(listed_text, byte);
}

void traceListedEnd() {
    endTerminalText(listed_text);
    append("\n");
}
