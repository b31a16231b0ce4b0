// The fuzzer's entry point, in libFuzzer's form, which AFL++ drives in persistent mode too: each
// input is converted in memory by the library, in this process, with every listener and the
// whole trace on; the output is kept in memory and dropped. Besides what the sanitizers catch,
// the output must be written from its start without gaps: a write past the end of what was
// written before would leave a hole of zeros in a real file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lyric2sysex.h"

namespace {

struct Memory {
    const std::uint8_t* data;
    std::size_t size;
};

std::size_t readMemory(void* context, std::uint64_t offset, std::uint8_t* bytes, std::size_t size) {
    const auto& input = *static_cast<const Memory*>(context);
    const std::size_t count = std::min<std::uint64_t>(size, input.size - offset);
    std::memcpy(bytes, input.data + offset, count);
    return count;
}

std::uint64_t written_end = 0;

bool writeMemory(void*, std::uint64_t offset, const std::uint8_t*, std::size_t size) {
    if (offset > written_end) {
        __builtin_trap();
    }
    written_end = std::max<std::uint64_t>(written_end, offset + size);
    return true;
}

bool dropText(void*, const char*, std::size_t) {
    return true;
}

const Listener kListener = {nullptr,
                            [](void*, std::uint32_t, std::uint64_t, LyricCommand) {},
                            [](void*, std::uint32_t, std::uint64_t, NearMiss) {},
                            [](void*, const std::uint8_t*, std::size_t) {},
                            [](void*, std::uint32_t, std::uint64_t, std::uint32_t) {},
                            [](void*, std::uint32_t, std::uint64_t, std::uint8_t, std::uint8_t) {}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Memory memory{data, size};
    const InputReader input{&memory, size, readMemory};
    const OutputSink output{nullptr, writeMemory};
    const ConversionOptions options{TRACE_EVENTS, TextSink{nullptr, dropText}, "in", "out", false,
                                    &kListener};
    written_end = 0;
    convertStream(input, &output, options);
    convertStream(input, nullptr,
                  ConversionOptions{TRACE_LIST, options.trace, "in", nullptr, false, &kListener});
    return 0;
}
