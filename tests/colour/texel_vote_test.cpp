// The texture vote on hand-made textures with known regions.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "colour/texel_vote.h"

namespace hueslice::colour {
namespace {

constexpr Rgb8 kRed{255, 0, 0}, kBlue{0, 0, 255}, kGreen{0, 255, 0}, kWhite{255, 255, 255};

// A texture drawn as letters, one row of text per texel row: R, B, G and W.
struct Drawn {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};

Drawn draw(const std::vector<std::string>& rows) {
    Drawn d;
    d.height = static_cast<int>(rows.size());
    d.width = static_cast<int>(rows[0].size());
    for (const std::string& row : rows) {
        for (char c : row) {
            const Rgb8 rgb = c == 'R' ? kRed : c == 'B' ? kBlue : c == 'G' ? kGreen : kWhite;
            d.rgba.insert(d.rgba.end(), {rgb[0], rgb[1], rgb[2], 255});
        }
    }
    return d;
}

// 20 x 20: columns 0..8 red, 9..19 blue. The triangle (0,0) (1,0) (0,1) holds 144 red texel
// centres and 66 blue ones (69/31); mirrored in u it is the other way round.
Drawn split() {
    return draw(std::vector<std::string>(20, std::string(9, 'R') + std::string(11, 'B')));
}

TEST(TexelVote, FaceTakesTheColourCoveringMostOfIt) {
    const Drawn halves = split();
    const Drawn pair = draw({"BR"});
    const Drawn quad = draw({"RB", "GW"});
    const Drawn quarters = draw({"RRRB"});
    const Drawn lastThree = draw({"RBBB"});
    const Drawn checker = draw({"RBRB", "BRBR", "RBRB"});
    constexpr Wrap R = Wrap::Repeat, M = Wrap::MirroredRepeat, C = Wrap::ClampToEdge;
    const struct {
        const char* face;
        const Drawn& texture;
        Wrap wrapU, wrapV;
        std::vector<double> uv;
        Rgb8 expected;
    } cases[] = {
        {"wholly in one region", halves, R, R, {0.05, 0.05, 0.4, 0.05, 0.05, 0.9}, kRed},
        {"70/30 red", halves, R, R, {0, 0, 1, 0, 0, 1}, kRed},
        {"30/70 blue", halves, R, R, {1, 0, 0, 0, 1, 1}, kBlue},
        {"smaller than a texel", checker, R, R, {0.76, 0.4, 0.8, 0.4, 0.77, 0.45}, kRed},
        {"smaller than a texel, next row", checker, R, R, {0.76, 0.7, 0.8, 0.7, 0.77, 0.75}, kBlue},
        // One centre each, so the tie goes to the texel under the centroid (u 0.53: red).
        {"tie", pair, C, C, {-0.2, 0, 1.2, 0, 0.6, 1}, kRed},
        {"repeat, moved by whole tiles", halves, R, R, {3, -2, 4, -2, 3, -1}, kRed},
        {"repeat below 0", quad, R, R, {-0.3, 0.1, -0.29, 0.1, -0.3, 0.11}, kBlue},
        {"mirror below 0", quad, M, M, {-0.3, 0.1, -0.29, 0.1, -0.3, 0.11}, kRed},
        {"clamp below 0", quad, C, C, {-0.3, 0.1, -0.29, 0.1, -0.3, 0.11}, kRed},
        {"mirror past 1", quad, M, M, {1.6, 0.1, 1.61, 0.1, 1.6, 0.11}, kRed},
        {"clamp past 1", quad, C, C, {1.6, 0.1, 1.61, 0.1, 1.6, 0.11}, kBlue},
        {"each axis its own mode", quad, C, R, {0.1, 1.1, 0.11, 1.1, 0.1, 1.11}, kRed},
        {"v clamped", quad, R, C, {0.6, 1.1, 0.61, 1.1, 0.6, 1.11}, kWhite},
        // A quad as two triangles: three quarters of it over blue, then over red.
        {"quad", halves, R, R, {0.2, 0, 1, 0, 1, 1, 0.2, 1}, kBlue},
        {"quad, other side", halves, R, R, {0, 0, 0.7, 0, 0.7, 1, 0, 1}, kRed},
        // Spanning many tiles of a texture three quarters one colour: counted on a coarser grid,
        // whose step must not keep landing on the one red column.
        {"over many repeats", quarters, R, R, {0, 0, 1000, 0, 0, 1000}, kRed},
        {"thin over many repeats", lastThree, R, R, {0, 0.3, 1e6, 0.5, 0, 0.7}, kBlue},
    };
    TexelVoter voter;
    for (const auto& c : cases) {
        const TextureView view{c.texture.rgba.data(), c.texture.width, c.texture.height, c.wrapU,
                               c.wrapV};
        EXPECT_EQ(voter.vote(view, c.uv.data(), c.uv.size() / 2), c.expected) << c.face;
    }
}

TEST(TexelVote, CoordinatesThatNameNoTexelGiveNothing) {
    const Drawn d = split();
    const TextureView view{d.rgba.data(), d.width, d.height, Wrap::Repeat, Wrap::Repeat};
    TexelVoter voter;
    for (double bad : {double{NAN}, double{INFINITY}, 1e30}) {
        const double uv[6] = {0, 0, 1, 0, 0, bad};
        EXPECT_EQ(voter.vote(view, uv, 3), std::nullopt) << bad;
    }
}

TEST(TexelVote, WrapModesMapEveryIndexIntoTheImage) {
    const struct {
        long long i;
        Wrap wrap;
        long long expected;
    } cases[] = {
        {-1, Wrap::Repeat, 3},         {4, Wrap::Repeat, 0},          {-9, Wrap::Repeat, 3},
        {-1, Wrap::MirroredRepeat, 0}, {4, Wrap::MirroredRepeat, 3},  {7, Wrap::MirroredRepeat, 0},
        {8, Wrap::MirroredRepeat, 0},  {-6, Wrap::MirroredRepeat, 2}, {-5, Wrap::ClampToEdge, 0},
        {9, Wrap::ClampToEdge, 3},     {2, Wrap::ClampToEdge, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(wrapTexel(c.i, 4, c.wrap), c.expected) << c.i << " " << static_cast<int>(c.wrap);
}

}  // namespace
}  // namespace hueslice::colour
