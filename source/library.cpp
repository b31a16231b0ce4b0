// The library's entry points: each opens what its conversion reads and writes, runs the
// conversion, and, whether it completed or failed, closes everything and returns the result.
// A failure anywhere below unwinds to the setjmp() here.
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <iterator>

#include "conversion.h"
#include "failure.h"
#include "input_file.h"
#include "lyric2sysex.h"
#include "output_file.h"
#include "platform.h"
#include "streams.h"
#include "trace.h"

namespace {

[[noreturn]] void fail(const char* message, const char* file, int reason) {
    failWith(message, file, reason, FaultPlace{});
}

void startConversion(const ConversionOptions& options) {
    failure = Failure{};
    setUpTrace(options.trace_mode, options.trace, options.input_name, options.output_name);
}

// The result of a conversion that ran to its end or failed; the trace's last lines printed.
ConversionResult endConversion() {
    const bool completed = failure.message == nullptr;
    if (completed) {
        traceConverted(scan_summary.commands[ADD_UP] + scan_summary.commands[ADD_LO] +
                           scan_summary.commands[DEL_UL] + scan_summary.commands[DEL_UP] +
                           scan_summary.commands[DEL_LO],
                       scan_summary.near_misses);
    } else {
        traceFailure(failure);
    }
    const bool traced = traceFlushed();
    ConversionResult result{};
    result.status = completed && traced ? 0 : 1;
    std::copy(std::begin(scan_summary.commands), std::end(scan_summary.commands), result.commands);
    result.near_misses = scan_summary.near_misses;
    result.format = scan_summary.format;
    result.division = scan_summary.division;
    // A conversion that completed but could not write its trace's last lines says so too.
    result.message = completed && !traced ? "file can't write" : failure.message;
    result.file = failure.file;
    result.reason = reasonText(failure.reason);
    result.track = failure.place.track;
    result.offset = failure.place.offset;
    return result;
}

bool isSameFile(const char* path, const char* other_path) {
    FileIdentity one{};
    FileIdentity other{};
    return platformIdentifyPath(path, &one) && platformIdentifyPath(other_path, &other) &&
           one.device == other.device && one.file == other.file;
}

// Whether the file is a song: a MIDI file in which the scan finds a command before any failure.
// A conversion holds none. The probe has a jump of its own, inside the conversion's.
bool isSong(const char* path) {
    std::jmp_buf conversion_exit;
    std::memcpy(conversion_exit, failure_exit, sizeof conversion_exit);
    traceHideEvents(true);
    InputReader reader;
    bool song = false;
    switch (setjmp(failure_exit)) {
        case kJumpSet:
            if (openInputFile(path, &reader)) {
                openStreams(reader, path, nullptr, nullptr);
                scanInput(SCAN_PROBE, nullptr);
            }
            break;
        case kCommandFound:
            song = true;
            break;
    }
    closeInputFile();
    traceHideEvents(false);
    std::memcpy(failure_exit, conversion_exit, sizeof conversion_exit);
    failure = Failure{};
    return song;
}

// A song in the output's place is refused: overwriting it was almost certainly a slip of the
// hand (a song named as the output, a wildcard that expanded to two songs). The output that is
// the input itself is refused with its own message.
void refuseSongAsOutput(const char* input_path, const char* output_path) {
    if (!isSameFile(input_path, output_path) && isSong(output_path)) {
        fail("file not replaced", output_path, REASON_OUTPUT_IS_A_SONG);
    }
}

void convertOpenFiles(const char* input_path, const char* output_path,
                      const ConversionOptions& options) {
    if (!options.replace_songs) {
        refuseSongAsOutput(input_path, output_path);
    }
    InputReader reader;
    if (!openInputFile(input_path, &reader)) {
        fail("file can't read", input_path, errno);
    }
    if (isInputFile(output_path)) {
        fail("input and output are the same file", nullptr, 0);
    }
    OutputSink sink;
    if (!openOutputFile(output_path, &sink)) {
        fail("file can't write", output_path, errno);
    }
    openStreams(reader, input_path, &sink, output_path);
    scanInput(SCAN_CONVERT, options.listener);
    flushOutput();
    if (!inputUnchanged()) {
        fail("input changed during conversion", nullptr, 0);
    }
    if (!traceFlushed()) {
        fail("file can't write", nullptr, 0);
    }
    if (!commitOutputFile()) {
        fail("file can't write", output_path, errno);
    }
}

}  // namespace

ConversionResult convertFile(const char* input_path, const char* output_path,
                             const ConversionOptions& options) {
    startConversion(options);
    if (setjmp(failure_exit) == kJumpSet) {
        convertOpenFiles(input_path, output_path, options);
    }
    closeOutputFile();
    closeInputFile();
    return endConversion();
}

ConversionResult listFile(const char* input_path, const ConversionOptions& options) {
    startConversion(options);
    if (setjmp(failure_exit) == kJumpSet) {
        InputReader reader;
        if (!openInputFile(input_path, &reader)) {
            fail("file can't read", input_path, errno);
        }
        openStreams(reader, input_path, nullptr, nullptr);
        scanInput(SCAN_LIST, options.listener);
    }
    closeInputFile();
    return endConversion();
}

ConversionResult convertStream(const InputReader& input, const OutputSink* output,
                               const ConversionOptions& options) {
    startConversion(options);
    if (setjmp(failure_exit) == kJumpSet) {
        openStreams(input, options.input_name, output, options.output_name);
        scanInput(output != nullptr ? SCAN_CONVERT : SCAN_LIST, options.listener);
        if (output != nullptr) {
            flushOutput();
        }
    }
    return endConversion();
}
