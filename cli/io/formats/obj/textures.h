#pragma once

// OBJ colour textures: each material's `map_Kd` image, decoded once per file, and the colour it
// gives each face through the face's `vt` coordinates. OBJ's v axis points up (v = 0 is the
// image's bottom row).

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "colour/texel_vote.h"
#include "io/formats/obj/materials.h"
#include "io/formats/obj/scan.h"
#include "io/image/texture.h"

namespace hueslice::io::detail {

class ObjTextures {
  public:
    using FindImage = std::function<std::optional<std::string>(const std::string&)>;

    // `findImage` may be null: no image can be read (a note says so for each). `snapTexels`,
    // when set, changes each decoded image's texels before any face votes.
    ObjTextures(const ObjScan& scan, const FindImage& findImage, const std::string& objName,
                const std::string& mtlName,
                const std::function<void(std::vector<std::uint8_t>&)>& snapTexels);

    // Material `index` of the scan is `material`: its map_Kd image, when it has one, is found
    // and decoded (once per file name). A missing image gets a note. Throws InputError for a
    // truncated or corrupt image, or a file name that must not be followed.
    void add(std::size_t index, const Material& material);

    // Multiplies `rgb` (sRGB-encoded: the material's Kd) by the texture colour of face `face`,
    // whose corners start at `firstCorner` in corner order, in linear light. Leaves it alone
    // when the material has no texture, or the face no usable `vt` (counted for a note).
    // Returns whether the texture coloured the face.
    bool colour(std::size_t index, std::size_t face, std::size_t firstCorner, float rgb[3]);

    // Notes about missing and translucent images and faces without coordinates; the textures
    // used, in material order.
    Notes notes() const;
    std::vector<const Texture*> used() const;

  private:
    const ObjScan& scan;
    const FindImage& findImage;
    const std::string& objName;
    const std::string& mtlName;
    const std::function<void(std::vector<std::uint8_t>&)>& snapTexels;
    std::vector<std::unique_ptr<Texture>> byMaterial;
    std::map<std::string, std::shared_ptr<const Image>> images;  // null: missing
    Notes imageNotes;
    colour::TexelVoter voter;
    std::vector<double> uv, scratch;
};

}  // namespace hueslice::io::detail
