// Reads little-endian fields of untrusted bytes without ever passing their end.
#pragma once

#include <cstdint>
#include <span>

// A read that would pass the end gives zero (or nothing) and marks the reader as overrun, so a
// run of reads needs one check at the end. Offsets are 64-bit, so sums of 32-bit fields cannot wrap.
struct byte_reader {
    std::span<const std::uint8_t> bytes;
    bool overrun = false;
};

// Whether `count` bytes from `offset` lie inside the reader's bytes.
bool holds(const byte_reader& reader, std::uint64_t offset, std::uint64_t count);

// The `count` bytes at `offset`, or an empty span (and the overrun mark) if they are not all there.
std::span<const std::uint8_t> read_bytes(byte_reader& reader, std::uint64_t offset, std::uint64_t count);

std::uint8_t read_u8(byte_reader& reader, std::uint64_t offset);
std::uint16_t read_u16(byte_reader& reader, std::uint64_t offset);
std::uint32_t read_u32(byte_reader& reader, std::uint64_t offset);
std::int32_t read_i32(byte_reader& reader, std::uint64_t offset);
