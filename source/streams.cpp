#include "streams.h"

#include "output_file.h"

StreamOffsets stream_offsets;

namespace {

constexpr std::size_t kStreamBufferSize = 128 * 1024;
// Forward seeks up to this distance read over the bytes instead: a real seek costs a system
// call and throws the stream's buffer away.
constexpr std::uint64_t kReadOverLimit = 64 * 1024;

char input_buffer[kStreamBufferSize];

// The copy moves many short ranges, one per command: through stdio each would cost a read call,
// so the copy keeps a block of the input of its own and its stream is used unbuffered.
struct CopyBlock {
    std::uint8_t bytes[kStreamBufferSize];
    std::uint64_t offset;  // the input offset of bytes[0]
    std::size_t filled;
} copy_block;

// The copy behind the scan reads through its own stream, so that it never moves the scan's.
std::FILE* f_copy = nullptr;
FileIdentity input_identity;

// Reads the block of the input that starts at the copy cursor.
bool refillCopyBlock() {
    if (!platformSeek(f_copy, stream_offsets.copy)) {
        return false;
    }
    copy_block.offset = stream_offsets.copy;
    copy_block.filled = std::fread(copy_block.bytes, 1, sizeof copy_block.bytes, f_copy);
    return copy_block.filled != 0;
}

}  // namespace

void openInputFile(const char* path) {
    f_input = platformOpenInput(path, &input_identity);
    if (f_input == nullptr) {
        errexit("file can't read");
    }
    // The copy stream must read the very file the scan reads, even if the path changed since.
    FileIdentity copy_identity;
    f_copy = platformOpenInput(path, &copy_identity);
    if (f_copy == nullptr || copy_identity.device != input_identity.device ||
        copy_identity.file != input_identity.file) {
        errexit("file can't read");
    }
    std::setvbuf(f_input, input_buffer, _IOFBF, sizeof input_buffer);
    std::setvbuf(f_copy, nullptr, _IONBF, 0);
}

bool isInputFile(const char* path) {
    return platformIsSameFile(path, input_identity);
}

std::uint64_t inputSize() {
    return input_identity.size;
}

bool inputUnchanged() {
    FileIdentity now;
    return platformIdentify(f_input, &now) && now.size == input_identity.size &&
           now.modified_ns == input_identity.modified_ns &&
           now.changed_ns == input_identity.changed_ns;
}

bool catchUpInput() {
    std::uint64_t& actual = stream_offsets.input_stream;
    const std::uint64_t wanted = stream_offsets.input;
    if (wanted > actual && wanted - actual <= kReadOverLimit) {
        for (; actual < wanted; ++actual) {
            if (platformGetByte(f_input) == EOF) {
                return false;
            }
        }
    } else if (wanted != actual) {
        if (!platformSeek(f_input, wanted)) {
            return false;
        }
        actual = wanted;
    }
    stream_offsets.input_moved = false;
    return true;
}

bool readInputBytes(std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const int byte = readInputByte();
        if (byte < 0) {
            return false;
        }
        bytes[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

bool copyInputTo(std::uint64_t end) {
    while (stream_offsets.copy < end) {
        const std::uint64_t in_block = stream_offsets.copy - copy_block.offset;
        if (stream_offsets.copy < copy_block.offset || in_block >= copy_block.filled) {
            if (!refillCopyBlock()) {
                return false;
            }
            continue;
        }
        const std::uint64_t available = copy_block.filled - in_block;
        const std::uint64_t wanted = end - stream_offsets.copy;
        const auto count = static_cast<std::size_t>(wanted < available ? wanted : available);
        writeOutputBytes(copy_block.bytes + in_block, count);
        stream_offsets.copy += count;
    }
    return true;
}

bool copyInputToEnd() {
    return copyInputTo(input_identity.size);
}

void seekCopy(std::uint64_t offset) {
    stream_offsets.copy = offset;
}
