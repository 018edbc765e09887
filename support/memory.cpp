// Checked allocation: the heap's answers, with exhaustion turned into a fatal report.
#include "support/memory.h"

#include "support/fatal.h"

// A request for zero bytes asks for one, so that a null answer always means exhaustion.
static std::size_t at_least_one(std::size_t size)
{
    return size == 0 ? 1 : size;
}

byte_buffer alloc_zeroed(std::size_t size)
{
    return byte_buffer(static_cast<std::uint8_t*>(std::calloc(1, at_least_one(size))));
}

byte_buffer alloc_zeroed_or_die(std::size_t size)
{
    byte_buffer block = alloc_zeroed(size);
    if (!block)
        fatal_exit("Out of memory");
    return block;
}

byte_buffer realloc_or_die(byte_buffer block, std::size_t size)
{
    void* moved = std::realloc(block.get(), at_least_one(size));
    if (moved == nullptr)
        fatal_exit("Out of memory");
    (void)block.release(); // realloc has already freed or reused it
    return byte_buffer(static_cast<std::uint8_t*>(moved));
}
