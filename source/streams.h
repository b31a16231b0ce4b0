// The two input streams of the conversion: the scan's, which reads ahead event by event, and the
// copy's, which reads the same file behind it and moves ranges of it to the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "midi_struct.h"
#include "platform.h"

// Offsets are counted here rather than asked of the streams after every event.
struct StreamOffsets {
    std::uint64_t input;         // where the scan reads next
    std::uint64_t input_stream;  // where f_input really stands, while input_moved
    bool input_moved;            // a seek that the stream has not followed yet
    std::uint64_t copy;          // the copy cursor
};
extern StreamOffsets stream_offsets;

// Opens both streams on one file; ends the run with "file can't read" when that fails.
void openInputFile(const char* path);
// Whether the output path names the input file.
bool isInputFile(const char* path);
std::uint64_t inputSize();
// False when the input's size or times differ from what they were when it was opened.
bool inputUnchanged();

// Brings f_input to the offset of the last seek; false if the input ends before it.
bool catchUpInput();

// The scan's input. A seek only records the offset: the stream follows at the next read, so
// seeking back and forth over the bytes of one event costs nothing. A read gives the next byte,
// or -1 at the end of the input.
inline int readInputByte() {
    if (stream_offsets.input_moved && !catchUpInput()) {
        return -1;
    }
    const int c = platformGetByte(f_input);
    if (c == EOF) {
        return -1;
    }
    ++stream_offsets.input;
    return c;
}

inline void seekInput(std::uint64_t offset) {
    if (offset == stream_offsets.input) {
        return;
    }
    if (!stream_offsets.input_moved) {
        stream_offsets.input_stream = stream_offsets.input;
        stream_offsets.input_moved = true;
    }
    stream_offsets.input = offset;
}

inline std::uint64_t inputOffset() {
    return stream_offsets.input;
}

bool readInputBytes(std::uint8_t* bytes, std::size_t count);

// The copy cursor's input: copies [cursor, end) to the output; false if the input ends first.
bool copyInputTo(std::uint64_t end);
// Copies from the cursor to the end of the input.
bool copyInputToEnd();
void seekCopy(std::uint64_t offset);
