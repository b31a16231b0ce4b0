// The page's way into the library, exported from the WebAssembly module. The module holds neither
// the input nor the output: a file of any size is read from the page in the library's blocks and
// written back to it as it is converted, so that memory stays a small multiple of the file. The
// page hears everything it shows as the conversion goes (each command and near miss with its
// text, the tempo and time signature events, the trace when asked for) and, at the end, the
// result.
#include <emscripten.h>

#include "lyric2sysex.h"

// Module.page is the page's side of the conversion: the input, the output and the listener.
EM_JS(int, readInput, (double offset, std::uint8_t* bytes, std::size_t size),
      { return Module.page.read(offset, HEAPU8.subarray(bytes, bytes + size)); });
EM_JS(int, writeOutput, (double offset, const std::uint8_t* bytes, std::size_t size),
      { return Module.page.write(offset, HEAPU8.slice(bytes, bytes + size)); });
EM_JS(void, reportCommand, (std::uint32_t track, double ticks, int command),
      { Module.page.command(track, ticks, command); });
EM_JS(void, reportNearMiss, (std::uint32_t track, double ticks, int reason),
      { Module.page.nearMiss(track, ticks, reason); });
EM_JS(void, reportText, (const std::uint8_t* bytes, std::size_t size),
      { Module.page.text(HEAPU8.subarray(bytes, bytes + size)); });
EM_JS(void, reportTempo, (std::uint32_t track, double ticks, std::uint32_t tempo),
      { Module.page.tempo(track, ticks, tempo); });
EM_JS(void, reportTimeSignature, (std::uint32_t track, double ticks, int numerator, int power),
      { Module.page.timeSignature(track, ticks, numerator, power); });
EM_JS(void, reportTrace, (const char* text, std::size_t size),
      { Module.page.trace(HEAPU8.slice(text, text + size)); });
EM_JS(void, reportResult,
      (int status, const char* message, const char* reason, std::uint32_t track, double offset,
       const std::uint32_t* commands, std::uint32_t near_misses, int format, int division),
      {
          Module.page.result({
              status : status,
              message : message ? UTF8ToString(message) : null,
              reason : reason ? UTF8ToString(reason) : null,
              track : track,
              offset : offset,
              counts : Array.from(HEAPU32.subarray(commands >> 2, (commands >> 2) + 5)),
              nearMissCount : near_misses,
              format : format,
              division : division,
          });
      });

namespace {

// A negative count, the page's failure to read, becomes the library's size_t(-1).
std::size_t read(void*, std::uint64_t offset, std::uint8_t* bytes, std::size_t size) {
    return static_cast<std::size_t>(readInput(static_cast<double>(offset), bytes, size));
}

bool write(void*, std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    return writeOutput(static_cast<double>(offset), bytes, size) != 0;
}

bool writeTrace(void*, const char* text, std::size_t size) {
    reportTrace(text, size);
    return true;
}

// The commands and near misses still to be reported, and whether the text now coming belongs to
// one that was: past the page's limit they are only counted, and cost no call into the page.
struct Reported {
    std::uint32_t left;
    bool text;
} reported;

bool reportsNext() {
    reported.text = reported.left != 0;
    reported.left -= reported.text ? 1 : 0;
    return reported.text;
}

const Listener kListener = {
    nullptr,
    [](void*, std::uint32_t track, std::uint64_t ticks, LyricCommand command) {
        if (reportsNext()) {
            reportCommand(track, static_cast<double>(ticks), command);
        }
    },
    [](void*, std::uint32_t track, std::uint64_t ticks, NearMiss reason) {
        if (reportsNext()) {
            reportNearMiss(track, static_cast<double>(ticks), reason);
        }
    },
    [](void*, const std::uint8_t* bytes, std::size_t size) {
        if (reported.text) {
            reportText(bytes, size);
        }
    },
    [](void*, std::uint32_t track, std::uint64_t ticks, std::uint32_t tempo) {
        reportTempo(track, static_cast<double>(ticks), tempo);
    },
    [](void*, std::uint32_t track, std::uint64_t ticks, std::uint8_t numerator,
       std::uint8_t power) {
        reportTimeSignature(track, static_cast<double>(ticks), numerator, power);
    }};

}  // namespace

// Converts the page's input of size bytes into its output, and reports the first `kept` commands
// and near misses. The trace, every event as the command line prints it, is made only when asked
// for: it can be many times the size of the file.
extern "C" EMSCRIPTEN_KEEPALIVE int pageConvert(double size, int traced, std::uint32_t kept) {
    reported = Reported{kept, false};
    const ConversionOptions options{traced ? TRACE_EVENTS : TRACE_QUIET,
                                    TextSink{nullptr, traced ? writeTrace : nullptr},
                                    "input",
                                    "output",
                                    false,
                                    &kListener};
    const OutputSink sink{nullptr, write};
    const ConversionResult result =
        convertStream(InputReader{nullptr, static_cast<std::uint64_t>(size), read}, &sink, options);
    reportResult(result.status, result.message, result.reason, result.track,
                 static_cast<double>(result.offset), result.commands, result.near_misses,
                 result.format, result.division);
    return result.status;
}
