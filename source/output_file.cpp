#include "output_file.h"

#include <cstdio>
#include <cstring>

#include "midi_struct.h"
#include "platform.h"

namespace {

// The conversion writes many short pieces (a few bytes of SysEx, a copied range): they are
// gathered here and the stream itself is used unbuffered, a block at a time.
struct OutputBlock {
    std::uint8_t bytes[128 * 1024];
    std::size_t used;
    std::uint64_t offset;  // the output offset after the last byte written
} output_block;

void flushOutputBlock() {
    if (output_block.used != 0 &&
        std::fwrite(output_block.bytes, 1, output_block.used, f_output) != output_block.used) {
        errexit("file can't write");
    }
    output_block.used = 0;
}

}  // namespace

void openOutputFile(const char* path) {
    f_output = platformCreateOutput(path);
    if (f_output == nullptr) {
        errexit("file can't write");
    }
    std::setvbuf(f_output, nullptr, _IONBF, 0);
}

void commitOutputFile() {
    flushOutputBlock();
    if (std::fflush(f_output) != 0 || !platformCommitOutput()) {
        errexit("file can't write");
    }
}

void writeOutputByte(std::uint8_t byte) {
    if (output_block.used == sizeof output_block.bytes) {
        flushOutputBlock();
    }
    output_block.bytes[output_block.used++] = byte;
    ++output_block.offset;
}

void writeOutputBytes(const std::uint8_t* bytes, std::size_t count) {
    if (count > sizeof output_block.bytes - output_block.used) {
        flushOutputBlock();
    }
    if (count >= sizeof output_block.bytes) {
        if (std::fwrite(bytes, 1, count, f_output) != count) {
            errexit("file can't write");
        }
    } else {
        std::memcpy(output_block.bytes + output_block.used, bytes, count);
        output_block.used += count;
    }
    output_block.offset += count;
}

void seekOutput(std::uint64_t offset) {
    flushOutputBlock();
    if (!platformSeek(f_output, offset)) {
        errexit("file can't write");
    }
    output_block.offset = offset;
}

std::uint64_t outputOffset() {
    return output_block.offset;
}
