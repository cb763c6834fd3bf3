#pragma once

// A material's colour texture as the readers sample it: the decoded image, how its coordinates
// wrap and are transformed, and how many faces took their colour from it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "colour/texel_vote.h"
#include "io/image/image.h"
#include "io/io.h"

namespace hueslice::io {

struct Texture {
    std::string material;                 // as messages name it
    std::string image;                    // the image's name or file, as the model gives it
    std::shared_ptr<const Image> texels;  // shared by the materials that use one image
    colour::Wrap wrapU = colour::Wrap::Repeat;
    colour::Wrap wrapV = colour::Wrap::Repeat;
    // u' = m[0] u + m[1] v + m[2], v' = m[3] u + m[4] v + m[5], before the lookup.
    double m[6] = {1, 0, 0, 0, 1, 0};
    long long faces = 0;                    // faces coloured from the texture
    long long facesWithoutCoordinates = 0;  // faces that kept the material's colour
};

// Multiplies `linearRgb` (linear light) by the texture's colour over the face whose coordinates
// are uv[0 .. 2 * corners) (glTF's convention: v = 0 is the image's top row; see
// colour/texel_vote.h) and counts the face. Coordinates that name no texel (not finite, or
// absurdly far out) leave the colour as it is and count the face among those without
// coordinates; so does a null `uv`. `scratch` holds the transformed coordinates.
void colourFromTexture(Texture& texture, colour::TexelVoter& voter, const double* uv,
                       std::size_t corners, std::vector<double>& scratch, float linearRgb[3]);

// The note for a texture's faces that kept the material's colour; empty when there are none.
std::string uncoordinatedNote(const std::string& model, const Texture& texture);

// The note for an image whose texels are not all opaque: the alpha is not used.
std::string translucentNote(const std::string& model, const std::string& image);

}  // namespace hueslice::io
