// Checksums of byte strings: the CRC-32 that firmware checks a skin with, and a fast hash that
// tells whether a file changed.
#pragma once

#include <cstdint>
#include <span>

// The CRC-32 of zlib (reflected polynomial 0xEDB88320), continuing from `crc` (0 to start).
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// The 64-bit FNV-1a hash, continuing from `hash`.
inline constexpr std::uint64_t fnv_start = 0xcbf29ce484222325u;
std::uint64_t fnv1a(std::span<const std::uint8_t> bytes, std::uint64_t hash = fnv_start);
