// Writes the ordered dither's threshold map: a 64x64 blue-noise ranking made by void-and-cluster,
// as C++ initialiser text for view/common/blue_noise.inc. The same program always writes the same
// map. Usage: make_blue_noise > view/common/blue_noise.inc, or make_blue_noise FILE to check that
// FILE holds exactly that text.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int side = 64;
constexpr int area = side * side;
constexpr double sigma = 1.5;

// Each pixel's energy: the Gaussian-weighted count of the set pixels around it, on a torus so
// that the map tiles without a seam.
struct field {
    std::vector<bool> set = std::vector<bool>(area);
    std::vector<double> energy = std::vector<double>(area);
    std::array<double, side> falloff{}; // the Gaussian by wrapped distance along one axis
};

void toggle(field& f, int at)
{
    const bool now = !f.set[static_cast<std::size_t>(at)];
    f.set[static_cast<std::size_t>(at)] = now;
    const int ax = at % side;
    const int ay = at / side;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double e = f.falloff[static_cast<std::size_t>((x - ax + side) % side)] *
                             f.falloff[static_cast<std::size_t>((y - ay + side) % side)];
            f.energy[static_cast<std::size_t>(y * side + x)] += now ? e : -e;
        }
}

// The set pixel of highest energy (the tightest cluster) or the clear pixel of lowest (the largest
// void); the first such pixel in reading order on a tie.
int extreme(const field& f, bool of_set)
{
    int best = -1;
    for (int i = 0; i < area; ++i) {
        if (f.set[static_cast<std::size_t>(i)] != of_set)
            continue;
        const double e = f.energy[static_cast<std::size_t>(i)];
        if (best < 0 || (of_set ? e > f.energy[static_cast<std::size_t>(best)]
                                : e < f.energy[static_cast<std::size_t>(best)]))
            best = i;
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    field f;
    for (int d = 0; d < side; ++d) {
        const int wrapped = d <= side / 2 ? d : side - d;
        f.falloff[static_cast<std::size_t>(d)] = std::exp(-wrapped * wrapped / (2 * sigma * sigma));
    }
    // A tenth of the pixels set at random (a fixed generator, so the map is reproducible), then
    // relaxed: the tightest cluster moves to the largest void until that undoes itself.
    std::uint32_t random = 1;
    int initial = 0;
    while (initial < area / 10) {
        random = random * 1664525u + 1013904223u;
        const auto at = static_cast<int>((random >> 8) % area);
        if (!f.set[static_cast<std::size_t>(at)]) {
            toggle(f, at);
            ++initial;
        }
    }
    for (;;) {
        const int cluster = extreme(f, true);
        toggle(f, cluster);
        const int hole = extreme(f, false);
        toggle(f, hole);
        if (hole == cluster)
            break;
    }
    const field relaxed = f;

    std::vector<int> rank(area);
    for (int r = initial - 1; r >= 0; --r) { // the initial pixels, ranked by removing clusters
        const int cluster = extreme(f, true);
        rank[static_cast<std::size_t>(cluster)] = r;
        toggle(f, cluster);
    }
    f = relaxed;
    for (int r = initial; r < area; ++r) { // the rest, ranked by filling voids
        const int hole = extreme(f, false);
        rank[static_cast<std::size_t>(hole)] = r;
        toggle(f, hole);
    }

    std::string text = "// Made by bench/make_blue_noise.cpp: do not edit by hand.\n";
    for (int i = 0; i < area; ++i)
        text += std::to_string(rank[static_cast<std::size_t>(i)]) + (i % 16 == 15 ? ",\n" : ", ");
    if (argc < 2) {
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::ostringstream held;
    held << file.rdbuf();
    if (held.str() != text) {
        std::fprintf(stderr, "make_blue_noise: %s is not the map this program makes\n", argv[1]);
        return 1;
    }
    return 0;
}
