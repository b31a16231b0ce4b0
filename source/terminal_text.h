// Text from outside (file names, lyric bytes read from a file) as a terminal may show it: what
// could move the cursor or make a line read other than it is becomes \xNN escapes of its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the printable pieces go: the trace's buffer, or standard output.
using PieceSink = void (*)(const char* text, std::size_t size);

// The longest UTF-8 sequence, the one from F0 to F4.
constexpr std::uint8_t kLongestSequence = 4;

// Text from outside taken a byte at a time, as the file reader hands it over without lookahead.
// The sink receives a whole UTF-8 sequence, a 4-character escape or, for lyric texts, "\\".
struct TerminalText {
    PieceSink sink;
    bool escape_backslash;  // lyric texts, so that their listing reads back unambiguously
    std::uint8_t pending[kLongestSequence] = {};  // the bytes of a sequence begun
    std::uint8_t count = 0;
    std::uint8_t length = {};  // of the sequence begun, as its first byte tells
};

void putTerminalByte(TerminalText& text, std::uint8_t byte);
// Escapes what is left of an unfinished sequence.
void endTerminalText(TerminalText& text);
// A whole name, as the terminal may show it; a backslash stays as it is.
void putTerminalName(PieceSink sink, const char* name);
