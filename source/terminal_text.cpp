// Strict UTF-8: a sequence that is overlong, encodes a surrogate or lies above U+10FFFF is refused
// at the byte that gives it away, so that no terminal decodes into something other than the
// escapes show.
#include "terminal_text.h"

namespace {

struct CodePointRange {
    std::uint32_t first;
    std::uint32_t last;
};

// Controls and the marks that reorder a line, in ascending order. DEL and the C1 controls are
// adjacent, so that a printable ASCII byte is decided by two comparisons.
constexpr CodePointRange kHidden[] = {{0x0000, 0x001F}, {0x007F, 0x009F}, {0x061C, 0x061C},
                                      {0x200E, 0x200F}, {0x202A, 0x202E}, {0x2066, 0x2069}};

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool isHidden(std::uint32_t code_point) {
    for (const CodePointRange& range : kHidden) {
        if (code_point < range.first) {
            return false;
        }
        if (code_point <= range.last) {
            return true;
        }
    }
    return false;
}

// None (0) for a byte that cannot begin a sequence: a continuation byte, C0 and C1 (overlong only)
// and F5 upwards (above U+10FFFF).
std::uint8_t sequenceLength(std::uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return kLongestSequence;
    }
    return {};
}

// The second byte is where overlongs (E0, F0), surrogates (ED) and code points above U+10FFFF
// (F4) show.
bool continues(const TerminalText& text, std::uint8_t byte) {
    if (text.count > 1) {
        return byte >= 0x80 && byte <= 0xBF;
    }
    const std::uint8_t lead = text.pending[0];
    const std::uint8_t lowest = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const std::uint8_t highest = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    return byte >= lowest && byte <= highest;
}

std::uint32_t codePoint(const TerminalText& text) {
    std::uint32_t code_point = text.pending[0] & (0x7F >> text.count);
    for (std::uint8_t i = 1; i < text.count; ++i) {
        code_point = (code_point << 6) | (text.pending[i] & 0x3F);
    }
    return code_point;
}

void putEscape(PieceSink sink, std::uint8_t byte) {
    const char escape[4] = {'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
    sink(escape, sizeof escape);
}

void escapePending(TerminalText& text) {
    for (std::uint8_t i = 0; i < text.count; ++i) {
        putEscape(text.sink, text.pending[i]);
    }
    text.count = 0;
}

void putAscii(const TerminalText& text, std::uint8_t byte) {
    if (isHidden(byte)) {
        putEscape(text.sink, byte);
    } else if (byte == '\\' && text.escape_backslash) {
        text.sink("\\\\", 2);
    } else {
        const char character = static_cast<char>(byte);
        text.sink(&character, 1);
    }
}

void begin(TerminalText& text, std::uint8_t byte) {
    if ((byte & 0x80) == 0) {
        putAscii(text, byte);
        return;
    }
    text.length = sequenceLength(byte);
    if (text.length < 2) {
        putEscape(text.sink, byte);
        return;
    }
    text.pending[0] = byte;
    text.count = 1;
}

void finish(TerminalText& text) {
    if (isHidden(codePoint(text))) {
        escapePending(text);
    } else {
        text.sink(reinterpret_cast<const char*>(text.pending), text.count);
    }
    text.count = 0;
}

}  // namespace

void putTerminalByte(TerminalText& text, std::uint8_t byte) {
    if (text.count == 0) {
        begin(text, byte);
        return;
    }
    if (!continues(text, byte)) {
        escapePending(text);
        begin(text, byte);
        return;
    }
    text.pending[text.count++] = byte;
    if (text.count == text.length) {
        finish(text);
    }
}

void endTerminalText(TerminalText& text) {
    escapePending(text);
}

void putTerminalName(PieceSink sink, const char* name) {
    TerminalText text{sink, false};
    for (; *name != '\0'; ++name) {
        putTerminalByte(text, static_cast<std::uint8_t>(*name));
    }
    endTerminalText(text);
}
