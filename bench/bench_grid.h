#pragma once

// The meshes the benchmarks share: quads on a square grid, coloured from a count of distinct
// colours, built once per shape.

#include <memory>

#include <GU_Detail.h>
#include <UT_Vector3.h>

namespace bench {

constexpr long long kSmall = 65536;
constexpr long long kMedium = 1048576;
constexpr long long kLarge = 4194304;

// Colour number k (below 2^24) as three floats that are distinct raw and distinct after
// quantisation: each component is (byte + 0.5) / 255, which quantises back to the byte.
inline UT_Vector3 colourOf(long long k) {
    const auto component = [](long long byte) {
        return static_cast<float>((static_cast<double>(byte) + 0.5) / 255.0);
    };
    return UT_Vector3(component(k & 255), component((k >> 8) & 255), component((k >> 16) & 255));
}

// The side of the square grid holding `prims` quads; every size used here is a square.
inline unsigned gridSide(long long prims) {
    unsigned side = 1;
    while (static_cast<long long>(side) * side < prims)
        ++side;
    return side;
}

// `prims` quads on a square grid of shared points, primitive i coloured colourOf(i mod
// colours) through "Cd".
inline std::shared_ptr<const GU_Detail> makeGrid(long long prims, long long colours) {
    auto detail = std::make_shared<GU_Detail>();
    const unsigned side = gridSide(prims);
    detail->reservePoints(static_cast<std::size_t>(side + 1) * (side + 1));
    for (unsigned y = 0; y <= side; ++y) {
        for (unsigned x = 0; x <= side; ++x) {
            detail->appendPoint(UT_Vector3(static_cast<float>(x), static_cast<float>(y), 0.0f));
        }
    }
    const int offset = detail->addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
    detail->reservePrimitives(static_cast<std::size_t>(prims), static_cast<std::size_t>(prims) * 4);
    for (long long i = 0; i < prims; ++i) {
        const unsigned x = static_cast<unsigned>(i % side);
        const unsigned y = static_cast<unsigned>(i / side);
        const unsigned base = y * (side + 1) + x;
        const unsigned quad[4] = {base, base + 1, base + side + 2, base + side + 1};
        const long long prim = detail->appendPrimitive(quad, 4);
        const UT_Vector3 c = colourOf(i % colours);
        const float rgb[3] = {c[0], c[1], c[2]};
        std::memcpy(detail->primitiveAttribData(prim) + offset, rgb, sizeof rgb);
    }
    return detail;
}

// The last grid made, kept for the next benchmark of the same shape: the large ones take
// seconds to build.
inline std::shared_ptr<const GU_Detail> grid(long long prims, long long colours) {
    static std::pair<long long, long long> key{-1, -1};
    static std::shared_ptr<const GU_Detail> cached;
    if (key != std::make_pair(prims, colours)) {
        cached.reset();
        cached = makeGrid(prims, colours);
        key = {prims, colours};
    }
    return cached;
}

}  // namespace bench
