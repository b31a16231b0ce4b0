// Byte order, the trace, and the file access of the conversion: one read stream for the scan,
// a second one on the same file for the copy behind it, and an output that only replaces the
// output path once the run is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

std::uint32_t convEndianU32(std::uint32_t src);

// Trace lines go to standard output; a failure to write them shows in traceFlushed().
void setUpTrace();
void traceLine(std::string_view text);
bool traceFlushed();

// Opening and closing. Each of these ends the run with its message on failure.
void openInputFile(const char* path);
void refuseSameFile(const char* output_path);
void openOutputFile(const char* path);
void refuseLargeInput();
void commitOutputFile();
// Safe to call at any time; leaves the output path as it was before the run.
void discardOutputFile();

// The scan's input. A seek only records the offset: the stream catches up at the next read, so
// seeking back and forth over the bytes of one event costs nothing.
bool readInputByte(std::uint8_t& byte);
bool readInputBytes(std::uint8_t* bytes, std::size_t count);
void seekInput(std::uint64_t offset);
std::uint64_t inputOffset();

// The copy cursor's input: copies [cursor, end) to the output; false if the input ends first.
bool copyInputTo(std::uint64_t end);
void seekCopy(std::uint64_t offset);

void writeOutputByte(std::uint8_t byte);
void writeOutputBytes(const std::uint8_t* bytes, std::size_t count);
void seekOutput(std::uint64_t offset);
std::uint64_t outputOffset();
