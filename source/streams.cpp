#include "streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "failure.h"

StreamOffsets stream_offsets;
InputBlock scan_block;
OutputBlock output_block;

namespace {

// The copy behind the scan reads into a block of its own, so that it never moves the scan's; it
// moves many short ranges, one per command, out of its block.
InputBlock copy_block;

struct Streams {
    InputReader input;
    const char* input_name;
    OutputSink output;
    const char* output_name;
} streams;

[[noreturn]] void failToRead() {
    failWith("file can't read", streams.input_name, errno, FaultPlace{});
}

bool refill(InputBlock& block, std::uint64_t offset) {
    block.offset = offset;
    const std::size_t filled =
        offset < streams.input.size
            ? streams.input.read(streams.input.context, offset, block.bytes, sizeof block.bytes)
            : 0;
    if (filled == kReadFailed) {
        failToRead();
    }
    block.filled = filled;
    return block.filled != 0;
}

}  // namespace

void openStreams(const InputReader& input, const char* input_name, const OutputSink* output,
                 const char* output_name) {
    streams = Streams{input, input_name, output != nullptr ? *output : OutputSink{}, output_name};
    stream_offsets = StreamOffsets{};
    // An empty block is filled from wherever its cursor stands, whatever offset it held before.
    scan_block.filled = copy_block.filled = 0;
    output_block.offset = 0;
    output_block.used = 0;
}

std::uint64_t inputSize() {
    return streams.input.size;
}

bool refillScanBlock() {
    return refill(scan_block, stream_offsets.input);
}

bool readInputBytes(std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const int byte = readInputByte();
        if (byte == EOF) {
            return false;
        }
        bytes[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

// The copy cursor only moves forward, and the block is read from it: the block holds the cursor
// unless the cursor has passed the block's end.
void copyInputTo(std::uint64_t end) {
    while (stream_offsets.copy < end) {
        if (stream_offsets.copy - copy_block.offset >= copy_block.filled &&
            !refill(copy_block, stream_offsets.copy)) {
            return;
        }
        const std::uint64_t in_block = stream_offsets.copy - copy_block.offset;
        const auto count = static_cast<std::size_t>(
            std::min(end - stream_offsets.copy, copy_block.filled - in_block));
        writeOutputBytes(copy_block.bytes + in_block, count);
        stream_offsets.copy += count;
    }
}

void copyInputToEnd() {
    copyInputTo(streams.input.size);
}

void seekCopy(std::uint64_t offset) {
    stream_offsets.copy = offset;
}

void flushOutput() {
    if (output_block.used != 0 && !streams.output.write(streams.output.context, output_block.offset,
                                                        output_block.bytes, output_block.used)) {
        failWith("file can't write", streams.output_name, errno, FaultPlace{});
    }
    output_block.offset += output_block.used;
    output_block.used = 0;
}

// A piece larger than the room left goes out in the block's pieces.
void writeOutputBytes(const std::uint8_t* bytes, std::size_t count) {
    while (count != 0) {
        if (output_block.used == sizeof output_block.bytes) {
            flushOutput();
        }
        const std::size_t piece = std::min(count, sizeof output_block.bytes - output_block.used);
        std::memcpy(output_block.bytes + output_block.used, bytes, piece);
        output_block.used += piece;
        bytes += piece;
        count -= piece;
    }
}

void seekOutput(std::uint64_t offset) {
    flushOutput();
    output_block.offset = offset;
}
