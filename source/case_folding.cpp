#include "case_folding.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

// Generated data, checked whole against Unicode's file by the tests rather than piece by piece.
#include "case_folding_table.inc"

namespace {

bool isContinuation(std::uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

// Decodes the code point that starts at *at into *code and moves *at past it; false when it is
// malformed. Overlong forms, surrogates, values above U+10FFFF and cut sequences are malformed:
// each would give one code point two spellings, or none.
bool decodeAt(std::string_view name, std::size_t* at, std::uint32_t* code) {
    const auto lead = static_cast<std::uint8_t>(name[(*at)++]);
    *code = lead;
    if (lead < 0x80) {
        return true;
    }
    // The lead's high bits count the continuation bytes that follow; a continuation cannot lead,
    // nor can C0 and C1, which begin only overlong forms.
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    if (extra == 0 || lead >= 0xF8) {
        return false;
    }
    *code = lead & (0x3Fu >> extra);
    for (int i = 0; i < extra; ++i, ++*at) {
        if (*at == name.size() || !isContinuation(static_cast<std::uint8_t>(name[*at]))) {
            return false;
        }
        *code = *code << 6 | (static_cast<std::uint8_t>(name[*at]) & 0x3Fu);
    }
    // The smallest code point that needs as many continuation bytes.
    constexpr std::uint32_t kSmallest[] = {0x80, 0x800, 0x10000};
    const bool surrogate = *code >= 0xD800 && *code <= 0xDFFF;
    return *code >= kSmallest[extra - 1] && !surrogate && *code <= 0x10FFFF;
}

bool isValidUtf8(std::string_view name) {
    std::uint32_t code;
    for (std::size_t at = 0; at != name.size();) {
        if (!decodeAt(name, &at, &code)) {
            return false;
        }
    }
    return true;
}

// Both names must be valid UTF-8.
int compareFoldedCodePoints(std::string_view a, std::string_view b) {
    std::size_t at_a = 0, at_b = 0;
    while (at_a != a.size() && at_b != b.size()) {
        std::uint32_t code_a;
        std::uint32_t code_b;
        decodeAt(a, &at_a, &code_a);
        decodeAt(b, &at_b, &code_b);
        const std::uint32_t folded_a = foldCase(code_a);
        const std::uint32_t folded_b = foldCase(code_b);
        const int order = (folded_a > folded_b) - (folded_a < folded_b);
        if (order != 0) {
            return order;
        }
    }
    return static_cast<int>(at_a < a.size()) - static_cast<int>(at_b < b.size());
}

}  // namespace

// The only run that can hold the code point is the first one that ends at or after it.
std::uint32_t foldCase(std::uint32_t code) {
    const auto* run = std::lower_bound(
        std::begin(kCaseFolding), std::end(kCaseFolding), code,
        [](const CaseFoldRun& candidate, std::uint32_t wanted) { return candidate.last < wanted; });
    if (run == std::end(kCaseFolding) || code < run->first ||
        code % run->stride != run->first % run->stride) {
        return code;
    }
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(code) + run->delta);
}

int compareFoldedNames(std::string_view a, std::string_view b) {
    const bool valid_a = isValidUtf8(a), valid_b = isValidUtf8(b);
    if (valid_a != valid_b) {
        return valid_a ? -1 : 1;
    }
    if (valid_a) {
        return compareFoldedCodePoints(a, b);
    }
    // A name that is not text has no letters to fold; string_view compares bytes as unsigned.
    const int order = a.compare(b);
    return (order > 0) - (order < 0);
}
