#include "output_file.h"

#include <cstdio>

#include "platform.h"

namespace {

struct OutputFile {
    std::FILE* stream;
    std::uint64_t position;  // where the stream stands: a pipe cannot seek, even to there
} f_output;

bool writeAt(void* context, std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    auto& file = *static_cast<OutputFile*>(context);
    if (offset != file.position && !platformSeek(file.stream, offset)) {
        return false;
    }
    file.position = offset + size;
    return std::fwrite(bytes, 1, size, file.stream) == size;
}

}  // namespace

bool openOutputFile(const char* path, OutputSink* sink) {
    f_output = OutputFile{platformCreateOutput(path), 0};
    if (f_output.stream == nullptr) {
        return false;
    }
    // The streams gather whole blocks already.
    std::setbuf(f_output.stream, nullptr);
    *sink = OutputSink{&f_output, writeAt};
    return true;
}

bool commitOutputFile() {
    const bool committed = platformCommitOutput();
    f_output.stream = nullptr;
    return committed;
}

void closeOutputFile() {
    platformCloseOutput();
    f_output.stream = nullptr;
}
