// Byte order of the chunk lengths, which the file stores most significant byte first.
#pragma once

#include <cstdint>

std::uint32_t convEndianU32(std::uint32_t src);
