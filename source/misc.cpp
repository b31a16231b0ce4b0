#include "misc.h"

std::uint32_t convEndianU32(std::uint32_t src) {
    return (src & 0xFF) << 24 | (src & 0xFF00) << 8 | (src >> 8 & 0xFF00) | src >> 24;
}
