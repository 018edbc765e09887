// The blue-noise map, made once by bench/make_blue_noise.cpp (void-and-cluster) and kept as data.
#include "view/common/blue_noise.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::array<std::uint16_t, blue_noise_side * blue_noise_side> ranks{
#include "view/common/blue_noise.inc"
};

} // namespace

int blue_noise_rank(std::size_t x, std::size_t y)
{
    return ranks[(y % blue_noise_side) * blue_noise_side + x % blue_noise_side];
}
