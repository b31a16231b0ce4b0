// lyric2sysex as a library: the conversion of a Standard MIDI File's lyric commands into SysEx
// events, called in-process by the command line, the page, the tests and the fuzzer. Every call
// converts or lists one file and returns its result; a failure ends that call, not the process,
// and the next call starts afresh. The library allocates nothing: what it reads, writes and
// reports goes through the functions its caller gives.
#pragma once

#include <cstddef>
#include <cstdint>

// The five commands, in the order of the counts and of the listing's command numbers.
enum LyricCommand : std::uint8_t { ADD_UP, ADD_LO, DEL_UL, DEL_UP, DEL_LO, LYRIC_COMMAND_COUNT };

// A Text or Lyric event that is no command but almost is one, by the first rule that applies:
// its first eight bytes are a command but for letter case; it begins with blanks (spaces, tabs)
// and then a command; its first seven bytes are a command's and the eighth is not "$" or missing;
// its first eight bytes differ from a command's in one position. Such an event is left as it is.
enum NearMiss : std::uint8_t {
    NEAR_LOWER_CASE,
    NEAR_BLANKS_BEFORE,
    NEAR_NO_CLOSING_DOLLAR,
    NEAR_ONE_DIFFERENT,
    NEAR_MISS_KINDS
};

// Where printed text goes: standard output, say. False when it could not be written; no write
// function, no text.
struct TextSink {
    void* context;
    bool (*write)(void* context, const char* text, std::size_t size);
};

// What is printed, as the command line's forms print it.
enum TraceMode : std::uint8_t {
    TRACE_EVENTS,            // every event and command, then the message and "ERR" on failure
    TRACE_QUIET,             // nothing on success; on failure the message with its place, "ERR"
    TRACE_LIST,              // the lyric commands only; failures as in TRACE_QUIET
    TRACE_SUMMARY,           // one line per file, as a folder conversion prints them
    TRACE_SUMMARY_FAILURES,  // the same for the files that failed only
    TRACE_MESSAGE,           // nothing but a failure's message (the output is the trace's stream)
};

// What the scan meets, for a caller that places the commands in time: each command and each near
// miss (the text of an add command or of a near miss in one or more pieces after it), each tempo
// (FF 51) and time signature (FF 58) event. Tracks count from 1; ticks from the start of the
// track. Any function may be null.
struct Listener {
    void* context;
    void (*command)(void* context, std::uint32_t track, std::uint64_t ticks, LyricCommand command);
    void (*near_miss)(void* context, std::uint32_t track, std::uint64_t ticks, NearMiss reason);
    void (*text)(void* context, const std::uint8_t* bytes, std::size_t size);
    void (*tempo)(void* context, std::uint32_t track, std::uint64_t ticks,
                  std::uint32_t microseconds_per_quarter);
    void (*time_signature)(void* context, std::uint32_t track, std::uint64_t ticks,
                           std::uint8_t numerator, std::uint8_t denominator_power);
};

struct ConversionOptions {
    TraceMode trace_mode;
    TextSink trace;
    const char* input_name;   // how a folder conversion's line names the input
    const char* output_name;  // and the output
    bool replace_songs;       // an old output that holds commands is replaced too
    const Listener* listener;
};

// An input the caller holds: size bytes, read at any offset. read() gives the number of bytes
// it placed, at most size and fewer only at the end of the input; kReadFailed for a failure.
constexpr std::size_t kReadFailed = SIZE_MAX;
struct InputReader {
    void* context;
    std::uint64_t size;
    std::size_t (*read)(void* context, std::uint64_t offset, std::uint8_t* bytes, std::size_t size);
};

// An output the caller holds, written at any offset (the conversion goes back to a track's length
// field once per track). False when the bytes could not be written.
struct OutputSink {
    void* context;
    bool (*write)(void* context, std::uint64_t offset, const std::uint8_t* bytes, std::size_t size);
};

struct ConversionResult {
    int status;  // 0 converted (or listed), 1 failed
    std::uint32_t commands[LYRIC_COMMAND_COUNT];
    std::uint32_t near_misses;
    std::uint16_t format;    // the header's, once it has been read
    std::uint16_t division;  // ticks per quarter note, or an SMPTE format (top bit set)
    const char* message;     // why it failed, as printed; null on success
    const char* file;        // the file that could not be read or written, if that was the failure
    const char* reason;      // what the system or the program said of it, as printed; or null
    std::uint32_t track;     // the place in the input: the track from 1 (0 for none)
    std::uint64_t offset;    // and the offset of the event or chunk at fault
};

// Converts the file at one path into the file at the other, which is replaced only by a complete
// conversion.
ConversionResult convertFile(const char* input_path, const char* output_path,
                             const ConversionOptions& options);
// Lists the commands of the file at the path, and converts nothing.
ConversionResult listFile(const char* input_path, const ConversionOptions& options);
// Converts what the reader gives into the sink; with no sink, lists only.
ConversionResult convertStream(const InputReader& input, const OutputSink* output,
                               const ConversionOptions& options);
