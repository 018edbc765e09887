// Table-driven CRC-32 and FNV-1a.
#include "view/common/checksum.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> crc_table()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> crc_entries = crc_table();

} // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc)
{
    crc = ~crc;
    for (const std::uint8_t byte : bytes)
        crc = crc_entries[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

std::uint64_t fnv1a(std::span<const std::uint8_t> bytes, std::uint64_t hash)
{
    constexpr std::uint64_t prime = 0x100000001b3u;
    for (const std::uint8_t byte : bytes)
        hash = (hash ^ byte) * prime;
    return hash;
}
