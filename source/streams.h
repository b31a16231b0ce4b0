// The buffered streams of a conversion, over the reader and the sink its caller gives: two input
// streams, the scan's, which reads ahead event by event, and the copy's, which reads the same
// input behind it and moves ranges of it to the output; and the output stream. Each input stream
// reads a block at a time into a block of its own; a seek only moves an offset, so seeking back
// and forth over the bytes of one event costs nothing. A failure to read or write fails the
// conversion, naming the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "lyric2sysex.h"
#include "platform.h"

struct InputBlock {
    std::uint8_t bytes[kBlockSize];
    std::uint64_t offset;  // the input offset of bytes[0]
    std::size_t filled;
};
extern InputBlock scan_block;

// Offsets are counted here rather than asked of the reader after every event.
struct StreamOffsets {
    std::uint64_t input;  // where the scan reads next
    std::uint64_t copy;   // the copy cursor
};
extern StreamOffsets stream_offsets;

// Every stream starts afresh on the input, and the output if there is one. The names are what a
// failure to read or write calls the two.
void openStreams(const InputReader& input, const char* input_name, const OutputSink* output,
                 const char* output_name);
std::uint64_t inputSize();

// Reads the block that begins at the scan's offset; false at the end of the input.
bool refillScanBlock();

// The next byte of the scan, or EOF at the end of the input. An offset before the block wraps
// around to a large distance, so that it is read anew too.
inline int readInputByte() {
    if (stream_offsets.input - scan_block.offset >= scan_block.filled && !refillScanBlock()) {
        return EOF;
    }
    return scan_block.bytes[stream_offsets.input++ - scan_block.offset];
}

inline void seekInput(std::uint64_t offset) {
    stream_offsets.input = offset;
}

inline std::uint64_t inputOffset() {
    return stream_offsets.input;
}

bool readInputBytes(std::uint8_t* bytes, std::size_t count);

// Copies the input from the copy cursor up to end into the output, as far as the input goes: the
// scan has read those bytes already, so an input that ends first has changed since it was opened,
// which the run's last check reports.
void copyInputTo(std::uint64_t end);
// Copies from the cursor to the end of the input, as far as the input still goes.
void copyInputToEnd();
void seekCopy(std::uint64_t offset);

// The output, gathered into blocks of its own: the conversion writes many short pieces (a copied
// range, a few bytes of SysEx).
struct OutputBlock {
    std::uint8_t bytes[kBlockSize];
    std::uint64_t offset;  // the output offset of bytes[0]
    std::size_t used;
};
extern OutputBlock output_block;

void flushOutput();

inline void writeOutputByte(std::uint8_t byte) {
    if (output_block.used == sizeof output_block.bytes) {
        flushOutput();
    }
    output_block.bytes[output_block.used++] = byte;
}

void writeOutputBytes(const std::uint8_t* bytes, std::size_t count);
void seekOutput(std::uint64_t offset);

inline std::uint64_t outputOffset() {
    return output_block.offset + output_block.used;
}
