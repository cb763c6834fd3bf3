#include "io/image/texture.h"

#include "colour/colour_space.h"
#include "io/internal.h"

namespace hueslice::io {

void colourFromTexture(Texture& texture, colour::TexelVoter& voter, const double* uv,
                       std::size_t corners, std::vector<double>& moved, float linearRgb[3]) {
    std::optional<colour::Rgb8> texel;
    if (uv) {
        moved.resize(2 * corners);
        for (std::size_t i = 0; i < corners; ++i) {
            const double u = uv[2 * i], v = uv[2 * i + 1];
            moved[2 * i] = texture.m[0] * u + texture.m[1] * v + texture.m[2];
            moved[2 * i + 1] = texture.m[3] * u + texture.m[4] * v + texture.m[5];
        }
        const Image& image = *texture.texels;
        const colour::TextureView view{image.rgba.data(), image.width, image.height, texture.wrapU,
                                       texture.wrapV};
        texel = voter.vote(view, moved.data(), corners);
    }
    if (!texel) {
        ++texture.facesWithoutCoordinates;
        return;
    }
    const auto& linear = colour::linearFromSrgbByte();
    for (std::size_t c = 0; c < 3; ++c)
        linearRgb[c] *= linear[(*texel)[c]];
    ++texture.faces;
}

std::string uncoordinatedNote(const std::string& model, const Texture& texture) {
    if (texture.facesWithoutCoordinates == 0)
        return "";
    return model + ": " +
           detail::countOf(static_cast<unsigned long long>(texture.facesWithoutCoordinates), "face",
                           "faces") +
           " of material " + texture.material +
           (texture.facesWithoutCoordinates == 1 ? " has no usable texture coordinates and keeps"
                                                 : " have no usable texture coordinates and keep") +
           " the material's colour";
}

std::string translucentNote(const std::string& model, const std::string& image) {
    return model + ": image \"" + printable(image) +
           "\" is not opaque; its alpha is ignored and faces take its colour";
}

}  // namespace hueslice::io
