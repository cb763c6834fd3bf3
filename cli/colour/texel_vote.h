#pragma once

// The colour a face takes from a texture: the 8-bit texel colour that covers most of the face's
// area in texture space. Texels are looked up nearest, never filtered, so that the colour is one
// that is in the image. A texel counts for the face when its centre lies inside the face (on an
// edge counts too); a tie between colours, or a face that holds no texel centre, takes the texel
// under the face's texture-space centroid.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace hueslice::colour {

// What happens to texture coordinates outside 0..1.
enum class Wrap { Repeat, MirroredRepeat, ClampToEdge };

// A decoded image as the vote reads it: width x height texels of 4 bytes (RGBA, alpha unused),
// rows top first. Texture coordinate (0, 0) is the top-left corner of the image and (1, 1) the
// bottom-right one, as glTF has it; a format whose v axis points up flips v before voting.
struct TextureView {
    const std::uint8_t* rgba = nullptr;
    int width = 0;
    int height = 0;
    Wrap wrapU = Wrap::Repeat;
    Wrap wrapV = Wrap::Repeat;
};

using Rgb8 = std::array<std::uint8_t, 3>;

// At most this many texel centres are counted for one face. A face that covers more (a large
// face, or one whose coordinates span many repeats) is counted on an evenly spaced grid of
// texel centres instead, so that the cost of a face stays bounded whatever its coordinates.
inline constexpr std::uint64_t kMaxTexelsPerFace = 4096;

// Holds scratch storage between votes, so that one voter used for a whole file allocates only
// when a face covers more texels than any before it.
class TexelVoter {
  public:
    // The winning colour of the face whose texture coordinates are uv[0 .. 2 * corners) as
    // (u, v) pairs, a polygon taken as the fan of triangles from its first corner, and its
    // centroid as the mean of its corners. Nothing when there are fewer than 3 corners or a
    // coordinate is not finite or lies so far out (beyond 2^40 texels) that no texel can be
    // told. Costs time linear in the corners and the texels counted.
    std::optional<Rgb8> vote(const TextureView& texture, const double* uv, std::size_t corners);

  private:
    std::vector<std::uint32_t> keys;  // the counted texels' colours, packed as 0xRRGGBB
    std::vector<double> points;       // the corners in texel units
};

// The texel a wrap mode makes of texel index `i` along an axis of `size` texels.
long long wrapTexel(long long i, int size, Wrap wrap);

}  // namespace hueslice::colour
