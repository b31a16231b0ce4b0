#include "input_file.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "platform.h"

namespace {

std::FILE* f_input = nullptr;
FileIdentity input_identity;

// Identities are compared whole: any change to a file shows in its size or its times.
bool isSameIdentity(const FileIdentity& one, const FileIdentity& other) {
    static_assert(std::has_unique_object_representations_v<FileIdentity>, "no padding to compare");
    return std::memcmp(&one, &other, sizeof one) == 0;
}

std::size_t readAt(void* context, std::uint64_t offset, std::uint8_t* bytes, std::size_t size) {
    auto* file = static_cast<std::FILE*>(context);
    if (!platformSeek(file, offset)) {
        return kReadFailed;
    }
    const std::size_t read = std::fread(bytes, 1, size, file);
    return std::ferror(file) != 0 ? kReadFailed : read;
}

}  // namespace

bool openInputFile(const char* path, InputReader* reader) {
    input_identity = FileIdentity{};
    f_input = platformOpenInput(path, &input_identity);
    if (f_input == nullptr) {
        return false;
    }
    // The streams' blocks are the only buffers: a stream's own would copy every byte once more.
    std::setbuf(f_input, nullptr);
    *reader = InputReader{f_input, input_identity.size, readAt};
    return true;
}

void closeInputFile() {
    if (f_input != nullptr) {
        std::fclose(f_input);
        f_input = nullptr;
    }
}

bool isInputFile(const char* path) {
    FileIdentity identity{};
    return platformIdentifyPath(path, &identity) && identity.device == input_identity.device &&
           identity.file == input_identity.file;
}

bool inputUnchanged() {
    // Zeros, unlike any file's identity, unless the input can still be examined.
    FileIdentity now{};
    platformIdentify(f_input, &now);
    return isSameIdentity(now, input_identity);
}
