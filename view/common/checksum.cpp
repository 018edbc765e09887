// CRC-32 by slicing eight bytes a step, and the content hash.
#include "view/common/checksum.h"

#include <array>

namespace {

using crc_tables = std::array<std::array<std::uint32_t, 256>, 8>;

// Table k gives the CRC of a byte followed by k zero bytes, so eight bytes fold in one step.
constexpr crc_tables make_crc_tables()
{
    crc_tables tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t n = 0; n < 256; ++n)
            tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFFu];
    return tables;
}

constexpr crc_tables tables = make_crc_tables();

std::uint64_t little_endian(const std::uint8_t* bytes, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value |= std::uint64_t{bytes[i]} << (8 * i);
    return value;
}

} // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc)
{
    crc = ~crc;
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        const std::uint64_t word = little_endian(bytes.data() + at, 8) ^ crc;
        std::uint32_t next = 0;
        for (std::size_t k = 0; k < 8; ++k)
            next ^= tables[7 - k][(word >> (8 * k)) & 0xFFu];
        crc = next;
    }
    for (; at < bytes.size(); ++at)
        crc = tables[0][(crc ^ bytes[at]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

std::uint64_t content_hash(std::span<const std::uint8_t> bytes, std::uint64_t hash)
{
    constexpr std::uint64_t prime = 0x100000001b3u;
    const auto step = [&hash](std::uint64_t word) {
        hash = (hash ^ word) * prime;
        hash ^= hash >> 29; // brings the high bits, which the product alone never moves down, back in
    };
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8)
        step(little_endian(bytes.data() + at, 8));
    if (at < bytes.size())
        step(little_endian(bytes.data() + at, bytes.size() - at));
    return hash ^ bytes.size();
}
