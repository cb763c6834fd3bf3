#include "colour/texel_vote.h"

#include <algorithm>
#include <cmath>

namespace hueslice::colour {

namespace {

constexpr double kFarthest = 1099511627776.0;  // 2^40 texels

std::uint32_t packedTexel(const TextureView& t, long long x, long long y) {
    // Most texels lie inside the image: no wrapping (and no division) for those.
    if (x < 0 || x >= t.width)
        x = wrapTexel(x, t.width, t.wrapU);
    if (y < 0 || y >= t.height)
        y = wrapTexel(y, t.height, t.wrapV);
    const std::uint8_t* p =
        t.rgba + 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width) +
                      static_cast<std::size_t>(x));
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}

Rgb8 unpacked(std::uint32_t key) {
    return {static_cast<std::uint8_t>(key >> 16), static_cast<std::uint8_t>(key >> 8),
            static_cast<std::uint8_t>(key)};
}

// The leftmost and rightmost x at which the horizontal line at `y` meets the triangle `p`
// (texel space, three (x, y) pairs); false when it misses.
bool spanAt(const double p[6], double y, double& left, double& right) {
    left = INFINITY;
    right = -INFINITY;
    for (int e = 0; e < 3; ++e) {
        const double xa = p[2 * e], ya = p[2 * e + 1];
        const double xb = p[(2 * e + 2) % 6], yb = p[(2 * e + 3) % 6];
        if (y < std::min(ya, yb) || y > std::max(ya, yb))
            continue;
        if (ya == yb) {
            left = std::min({left, xa, xb});
            right = std::max({right, xa, xb});
        } else {
            const double x = xa + (xb - xa) * (y - ya) / (yb - ya);
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    return left <= right;
}

}  // namespace

long long wrapTexel(long long i, int size, Wrap wrap) {
    switch (wrap) {
        case Wrap::ClampToEdge:
            return std::clamp(i, 0LL, static_cast<long long>(size) - 1);
        case Wrap::MirroredRepeat: {
            const long long period = 2LL * size;
            const long long m = ((i % period) + period) % period;
            return m < size ? m : period - 1 - m;
        }
        case Wrap::Repeat:
        default:
            return ((i % size) + size) % size;
    }
}

std::optional<Rgb8> TexelVoter::vote(const TextureView& t, const double* uv, std::size_t corners) {
    if (corners < 3)
        return std::nullopt;
    points.resize(2 * corners);
    double low = INFINITY, high = -INFINITY, west = INFINITY, east = -INFINITY;
    double cx = 0.0, cy = 0.0;
    for (std::size_t i = 0; i < corners; ++i) {
        const double x = uv[2 * i] * t.width, y = uv[2 * i + 1] * t.height;
        if (!(std::fabs(x) <= kFarthest) || !(std::fabs(y) <= kFarthest))
            return std::nullopt;
        points[2 * i] = x;
        points[2 * i + 1] = y;
        west = std::min(west, x);
        east = std::max(east, x);
        low = std::min(low, y);
        high = std::max(high, y);
        cx += x;
        cy += y;
    }
    // Texel centres lie at (x + 0.5, y + 0.5): the rows and columns whose centres the face's
    // bounding box holds, counted every `step` texels when there would be too many.
    const auto firstRow = static_cast<long long>(std::ceil(low - 0.5));
    const auto lastRow = static_cast<long long>(std::floor(high - 0.5));
    const auto firstColumn = static_cast<long long>(std::ceil(west - 0.5));
    const auto lastColumn = static_cast<long long>(std::floor(east - 0.5));
    const double rows = std::max(0.0, static_cast<double>(lastRow - firstRow + 1));
    const double columns = std::max(0.0, static_cast<double>(lastColumn - firstColumn + 1));
    long long step = 1;
    const auto counted = [&] {
        const auto s = static_cast<double>(step);
        return std::ceil(rows / s) * std::ceil(columns / s);
    };
    if (counted() > static_cast<double>(kMaxTexelsPerFace)) {
        // An odd step, so that the grid does not keep landing on the same column of a texture
        // whose size is a power of two.
        step = static_cast<long long>(
                   std::ceil(std::sqrt(rows * columns / static_cast<double>(kMaxTexelsPerFace)))) |
               1;
        while (counted() > static_cast<double>(kMaxTexelsPerFace))
            step = 2 * step + 1;  // a thin face's box: one axis alone holds too many
    }
    const auto onGrid = [step](long long from, long long first) {
        return first + (std::max(from, first) - first + step - 1) / step * step;
    };
    const bool inside =
        firstColumn >= 0 && lastColumn < t.width && firstRow >= 0 && lastRow < t.height;
    keys.clear();
    // A polygon as the fan of triangles from its first corner.
    for (std::size_t k = 1; k + 1 < corners; ++k) {
        const double tri[6] = {points[0],         points[1],         points[2 * k],
                               points[2 * k + 1], points[2 * k + 2], points[2 * k + 3]};
        const double top = std::min({tri[1], tri[3], tri[5]});
        const double bottom = std::max({tri[1], tri[3], tri[5]});
        const auto last = static_cast<long long>(std::floor(bottom - 0.5));
        for (long long y = onGrid(static_cast<long long>(std::ceil(top - 0.5)), firstRow);
             y <= last; y += step) {
            double left, right;
            if (!spanAt(tri, static_cast<double>(y) + 0.5, left, right))
                continue;
            const auto to = static_cast<long long>(std::floor(right - 0.5));
            long long x = onGrid(static_cast<long long>(std::ceil(left - 0.5)), firstColumn);
            if (inside) {  // no wrapping: straight along the row
                const std::uint8_t* row =
                    t.rgba + 4 * static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width);
                for (; x <= to; x += step) {
                    const std::uint8_t* p = row + 4 * static_cast<std::size_t>(x);
                    keys.push_back(std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2]);
                }
            }
            for (; x <= to; x += step)
                keys.push_back(packedTexel(t, x, y));
        }
    }
    // Most faces lie in one region of the image: one colour wins without sorting.
    if (!keys.empty() &&
        std::all_of(keys.begin(), keys.end(), [&](std::uint32_t k) { return k == keys[0]; }))
        return unpacked(keys[0]);
    std::sort(keys.begin(), keys.end());
    std::uint32_t best = 0;
    std::size_t bestCount = 0;
    bool tie = false;
    for (std::size_t i = 0; i < keys.size();) {
        std::size_t j = i;
        while (j < keys.size() && keys[j] == keys[i])
            ++j;
        if (j - i > bestCount) {
            best = keys[i];
            bestCount = j - i;
            tie = false;
        } else if (j - i == bestCount) {
            tie = true;
        }
        i = j;
    }
    if (bestCount > 0 && !tie)
        return unpacked(best);
    const auto n = static_cast<double>(corners);
    return unpacked(packedTexel(t, static_cast<long long>(std::floor(cx / n)),
                                static_cast<long long>(std::floor(cy / n))));
}

}  // namespace hueslice::colour
