// The page's way into the library, exported from the WebAssembly module: one call converts a file
// that the page has placed in the module's memory, and hands the page everything it shows as the
// conversion goes (each command with its text, the tempo and time signature events, the trace)
// and, at the end, the result. The output is the page's to keep: it grows here, in the module's
// memory, and the page copies it out.
#include <emscripten.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "lyric2sysex.h"

// Module.page is the page's receiver of all that the conversion reports.
EM_JS(void, reportCommand, (std::uint32_t track, double ticks, int command),
      { Module.page.command(track, ticks, command); });
EM_JS(void, reportNearMiss, (std::uint32_t track, double ticks, int reason),
      { Module.page.nearMiss(track, ticks, reason); });
EM_JS(void, reportText, (const std::uint8_t* bytes, std::size_t size),
      { Module.page.text(HEAPU8.slice(bytes, bytes + size)); });
EM_JS(void, reportTempo, (std::uint32_t track, double ticks, std::uint32_t tempo),
      { Module.page.tempo(track, ticks, tempo); });
EM_JS(void, reportTimeSignature, (std::uint32_t track, double ticks, int numerator, int power),
      { Module.page.timeSignature(track, ticks, numerator, power); });
EM_JS(void, reportTrace, (const char* text, std::size_t size),
      { Module.page.trace(HEAPU8.slice(text, text + size)); });
EM_JS(void, reportResult,
      (int status, const char* message, const char* reason, std::uint32_t track, double offset,
       const std::uint32_t* commands, int format, int division),
      {
          Module.page.result({
              status : status,
              message : message ? UTF8ToString(message) : null,
              reason : reason ? UTF8ToString(reason) : null,
              track : track,
              offset : offset,
              counts : Array.from(HEAPU32.subarray(commands >> 2, (commands >> 2) + 5)),
              format : format,
              division : division,
          });
      });

namespace {

struct Memory {
    const std::uint8_t* bytes;
    std::size_t size;
};

struct Output {
    std::uint8_t* bytes;
    std::size_t size;
    std::size_t capacity;
} output;

std::size_t readMemory(void* context, std::uint64_t offset, std::uint8_t* bytes, std::size_t size) {
    const auto& input = *static_cast<const Memory*>(context);
    const std::size_t count = std::min<std::uint64_t>(size, input.size - offset);
    std::memcpy(bytes, input.bytes + offset, count);
    return count;
}

// Doubling keeps the copies of a growing output few.
bool writeMemory(void*, std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    const std::size_t end = offset + size;
    if (end > output.capacity) {
        const std::size_t capacity = std::max(end, 2 * output.capacity);
        auto* grown = static_cast<std::uint8_t*>(std::realloc(output.bytes, capacity));
        if (grown == nullptr) {
            return false;
        }
        output = Output{grown, output.size, capacity};
    }
    std::memcpy(output.bytes + offset, bytes, size);
    output.size = std::max(output.size, end);
    return true;
}

bool writeTrace(void*, const char* text, std::size_t size) {
    reportTrace(text, size);
    return true;
}

const Listener kListener = {
    nullptr,
    [](void*, std::uint32_t track, std::uint64_t ticks, LyricCommand command) {
        reportCommand(track, static_cast<double>(ticks), command);
    },
    [](void*, std::uint32_t track, std::uint64_t ticks, NearMiss reason) {
        reportNearMiss(track, static_cast<double>(ticks), reason);
    },
    [](void*, const std::uint8_t* bytes, std::size_t size) { reportText(bytes, size); },
    [](void*, std::uint32_t track, std::uint64_t ticks, std::uint32_t tempo) {
        reportTempo(track, static_cast<double>(ticks), tempo);
    },
    [](void*, std::uint32_t track, std::uint64_t ticks, std::uint8_t numerator,
       std::uint8_t power) {
        reportTimeSignature(track, static_cast<double>(ticks), numerator, power);
    }};

}  // namespace

// Converts the size bytes at input; the output is at pageOutput() until the next call.
extern "C" EMSCRIPTEN_KEEPALIVE int pageConvert(const std::uint8_t* input, std::size_t size) {
    Memory memory{input, size};
    output.size = 0;
    const OutputSink sink{nullptr, writeMemory};
    const ConversionOptions options{
        TRACE_EVENTS, TextSink{nullptr, writeTrace}, "input", "output", false, &kListener};
    const ConversionResult result =
        convertStream(InputReader{&memory, size, readMemory}, &sink, options);
    reportResult(result.status, result.message, result.reason, result.track,
                 static_cast<double>(result.offset), result.commands, result.format,
                 result.division);
    return result.status;
}

extern "C" EMSCRIPTEN_KEEPALIVE const std::uint8_t* pageOutput() {
    return output.bytes;
}

extern "C" EMSCRIPTEN_KEEPALIVE std::size_t pageOutputSize() {
    return output.size;
}
