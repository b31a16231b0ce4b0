// The output: written through a buffered stream, and put in place of the output path only when the
// whole conversion has succeeded.
#pragma once

#include <cstddef>
#include <cstdint>

// Each of these ends the run with "file can't write" on failure.
void openOutputFile(const char* path);
void commitOutputFile();
void writeOutputByte(std::uint8_t byte);
void writeOutputBytes(const std::uint8_t* bytes, std::size_t count);
void seekOutput(std::uint64_t offset);
std::uint64_t outputOffset();
