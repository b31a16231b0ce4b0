#include "output_file.h"

#include <cstdio>

#include "midi_struct.h"
#include "platform.h"

namespace {

// The stream gathers the many short pieces the conversion writes (a copied range, a few bytes of
// SysEx) into blocks of its own.
char output_buffer[kBlockSize];
std::uint64_t output_offset;  // after the last byte written

}  // namespace

void openOutputFile(const char* path) {
    f_output = platformCreateOutput(path);
    if (f_output == nullptr) {
        errexit("file can't write");
    }
    std::setvbuf(f_output, output_buffer, _IOFBF, sizeof output_buffer);
}

void commitOutputFile() {
    if (std::fflush(f_output) != 0 || !platformCommitOutput()) {
        errexit("file can't write");
    }
}

void writeOutputBytes(const std::uint8_t* bytes, std::size_t count) {
    if (std::fwrite(bytes, 1, count, f_output) != count) {
        errexit("file can't write");
    }
    output_offset += count;
}

void writeOutputByte(std::uint8_t byte) {
    if (platformPutByte(byte, f_output) == EOF) {
        errexit("file can't write");
    }
    ++output_offset;
}

void seekOutput(std::uint64_t offset) {
    if (!platformSeek(f_output, offset)) {
        errexit("file can't write");
    }
    output_offset = offset;
}

std::uint64_t outputOffset() {
    return output_offset;
}
