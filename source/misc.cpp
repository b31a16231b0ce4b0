#include "misc.h"

std::uint32_t convEndianU32(std::uint32_t src) {
    std::uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        result = (result << 8) | (src & 0xFF);
        src >>= 8;
    }
    return result;
}
