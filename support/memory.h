// Heap blocks that cannot fail to arrive, owned through a free-based unique_ptr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

struct free_deleter {
    void operator()(void* block) const noexcept { std::free(block); }
};

// A heap block of bytes from the C allocator; its length travels beside it.
using byte_buffer = std::unique_ptr<std::uint8_t[], free_deleter>;

// Lengths are signed 32-bit, so no buffer may hold more bytes than this.
inline constexpr std::size_t max_buffer_length = std::numeric_limits<std::int32_t>::max();

// A new zero-filled block of `size` bytes, or empty when the heap is exhausted.
byte_buffer alloc_zeroed(std::size_t size);

// A new zero-filled block of `size` bytes; "Out of memory" ends the program.
byte_buffer alloc_zeroed_or_die(std::size_t size);

// Takes over `block` (may be empty) and gives it back resized to `size` bytes, contents kept.
byte_buffer realloc_or_die(byte_buffer block, std::size_t size);
