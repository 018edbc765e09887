// The bounded little-endian reader through which every byte of an input file is read.
#include "support/byte_reader.h"

namespace {

std::uint32_t read_le(byte_reader& reader, std::uint64_t offset, std::uint64_t width)
{
    std::uint32_t value = 0;
    const std::span<const std::uint8_t> field = read_bytes(reader, offset, width);
    for (std::size_t i = field.size(); i-- > 0;)
        value = value << 8 | field[i];
    return value;
}

} // namespace

bool holds(const byte_reader& reader, std::uint64_t offset, std::uint64_t count)
{
    return offset <= reader.bytes.size() && count <= reader.bytes.size() - offset;
}

std::span<const std::uint8_t> read_bytes(byte_reader& reader, std::uint64_t offset, std::uint64_t count)
{
    if (!holds(reader, offset, count)) {
        reader.overrun = true;
        return {};
    }
    return reader.bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
}

std::uint8_t read_u8(byte_reader& reader, std::uint64_t offset)
{
    return static_cast<std::uint8_t>(read_le(reader, offset, 1));
}

std::uint16_t read_u16(byte_reader& reader, std::uint64_t offset)
{
    return static_cast<std::uint16_t>(read_le(reader, offset, 2));
}

std::uint32_t read_u32(byte_reader& reader, std::uint64_t offset)
{
    return read_le(reader, offset, 4);
}

std::int32_t read_i32(byte_reader& reader, std::uint64_t offset)
{
    return static_cast<std::int32_t>(read_u32(reader, offset));
}
