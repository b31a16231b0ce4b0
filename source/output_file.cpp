#include "output_file.h"

#include <cerrno>
#include <cstdio>

#include "midi_struct.h"
#include "platform.h"

namespace {

// The stream gathers the many short pieces the conversion writes (a copied range, a few bytes of
// SysEx) into blocks of its own.
char output_buffer[kBlockSize];
std::uint64_t output_offset;  // after the last byte written
const char* output_path;

// The reason is taken at once: cleaning up after the failure may change errno.
[[noreturn]] void refuseOutput() {
    errexitFile("file can't write", output_path, errno);
}

}  // namespace

void openOutputFile(const char* path) {
    output_path = path;
    f_output = platformCreateOutput(path);
    if (f_output == nullptr) {
        refuseOutput();
    }
    std::setvbuf(f_output, output_buffer, _IOFBF, sizeof output_buffer);
}

void commitOutputFile() {
    if (std::fflush(f_output) != 0 || !platformCommitOutput()) {
        refuseOutput();
    }
}

void writeOutputBytes(const std::uint8_t* bytes, std::size_t count) {
    if (std::fwrite(bytes, 1, count, f_output) != count) {
        refuseOutput();
    }
    output_offset += count;
}

void writeOutputByte(std::uint8_t byte) {
    if (platformPutByte(byte, f_output) == EOF) {
        refuseOutput();
    }
    ++output_offset;
}

void seekOutput(std::uint64_t offset) {
    if (!platformSeek(f_output, offset)) {
        refuseOutput();
    }
    output_offset = offset;
}

std::uint64_t outputOffset() {
    return output_offset;
}
