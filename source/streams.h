// The two input streams of the conversion: the scan's, which reads ahead event by event, and the
// copy's, which reads the same file behind it and moves ranges of it to the output. Each reads
// the input a block at a time into a block of its own; a seek only moves an offset, so seeking
// back and forth over the bytes of one event costs nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "midi_struct.h"

struct InputBlock {
    std::uint8_t bytes[kBlockSize];
    std::uint64_t offset;  // the input offset of bytes[0]
    std::size_t filled;
};
extern InputBlock scan_block;

// Offsets are counted here rather than asked of the streams after every event.
struct StreamOffsets {
    std::uint64_t input;  // where the scan reads next
    std::uint64_t copy;   // the copy cursor
};
extern StreamOffsets stream_offsets;

// Opens both streams on one file; ends the run with "file can't read" when that fails.
void openInputFile(const char* path);
// Closes both, so that the next file is read from a fresh start.
void closeInputFile();
// Whether the output path names the input file.
bool isInputFile(const char* path);
std::uint64_t inputSize();
// False when the input's size or times differ from what they were when it was opened.
bool inputUnchanged();

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
