#include "streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <type_traits>

#include "output_file.h"
#include "platform.h"

StreamOffsets stream_offsets;

InputBlock scan_block;

namespace {

// The copy behind the scan reads through a stream of its own, so that it never moves the
// scan's; it moves many short ranges, one per command, out of its block.
std::FILE* f_copy = nullptr;
InputBlock copy_block;
FileIdentity input_identity;
const char* input_path;

[[noreturn]] void refuseInput(int reason) {
    errexitFile("file can't read", input_path, reason);
}

bool refill(InputBlock& block, std::FILE* stream, std::uint64_t offset) {
    if (!platformSeek(stream, offset)) {
        refuseInput(errno);
    }
    block.offset = offset;
    block.filled = std::fread(block.bytes, 1, sizeof block.bytes, stream);
    if (std::ferror(stream) != 0) {
        refuseInput(errno);
    }
    return block.filled != 0;
}

void closeStream(std::FILE*& stream) {
    if (stream != nullptr) {
        std::fclose(stream);
        stream = nullptr;
    }
}

// Identities are compared whole: any change to a file shows in its size or its times.
bool isSameIdentity(const FileIdentity& one, const FileIdentity& other) {
    static_assert(std::has_unique_object_representations_v<FileIdentity>, "no padding to compare");
    return std::memcmp(&one, &other, sizeof one) == 0;
}

}  // namespace

void openInputFile(const char* path) {
    input_path = path;
    f_input = platformOpenInput(path, &input_identity);
    if (f_input == nullptr) {
        refuseInput(errno);
    }
    // The copy stream must read the very file the scan reads, even if the path changed since.
    // One that does not open keeps the zero identity, which is no file's.
    FileIdentity copy_identity{};
    f_copy = platformOpenInput(path, &copy_identity);
    if (!isSameIdentity(copy_identity, input_identity)) {
        refuseInput(f_copy == nullptr ? errno : 0);
    }
    // The blocks are the only buffers: a stream's own would copy every byte once more.
    std::setbuf(f_input, nullptr);
    std::setbuf(f_copy, nullptr);
}

void closeInputFile() {
    closeStream(f_input);
    closeStream(f_copy);
    scan_block.offset = copy_block.offset = 0;
    scan_block.filled = copy_block.filled = 0;
    stream_offsets = StreamOffsets{};
    input_identity = FileIdentity{};
}

bool isInputFile(const char* path) {
    FileIdentity identity{};
    return platformIdentifyPath(path, &identity) && identity.device == input_identity.device &&
           identity.file == input_identity.file;
}

std::uint64_t inputSize() {
    return input_identity.size;
}

bool inputUnchanged() {
    // Zeros, unlike any file's identity, unless the input can still be examined.
    FileIdentity now{};
    platformIdentify(f_input, &now);
    return isSameIdentity(now, input_identity);
}

bool refillScanBlock() {
    return refill(scan_block, f_input, stream_offsets.input);
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
            !refill(copy_block, f_copy, stream_offsets.copy)) {
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
    copyInputTo(input_identity.size);
}

void seekCopy(std::uint64_t offset) {
    stream_offsets.copy = offset;
}
