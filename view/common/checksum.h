// Checksums of byte strings: the CRC-32 that firmware checks a skin with, and a fast hash that
// tells whether a file changed.
#pragma once

#include <cstdint>
#include <span>

// The CRC-32 of zlib (reflected polynomial 0xEDB88320), continuing from `crc` (0 to start).
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// A 64-bit hash in the manner of FNV-1a, but taking eight bytes a step, continuing from `hash`.
// Not for adversaries: it tells whether a file build wrote has changed since.
inline constexpr std::uint64_t hash_start = 0xcbf29ce484222325u;
std::uint64_t content_hash(std::span<const std::uint8_t> bytes, std::uint64_t hash = hash_start);
