#include "io/formats/obj/textures.h"

#include "colour/colour_space.h"
#include "io/internal.h"

namespace hueslice::io::detail {

ObjTextures::ObjTextures(const ObjScan& s, const FindImage& find, const std::string& obj,
                         const std::string& mtl,
                         const std::function<void(std::vector<std::uint8_t>&)>& snap)
    : scan(s), findImage(find), objName(obj), mtlName(mtl), snapTexels(snap) {}

void ObjTextures::add(std::size_t index, const Material& material) {
    const ColourMap& map = material.map;
    if (map.file.empty())
        return;
    const std::string& materialName = scan.materialNames[index];
    auto texture = std::make_unique<Texture>();
    texture->material = "'" + printable(materialName) + "'";
    texture->image = map.file;
    const auto known = images.find(map.file);
    if (known != images.end()) {
        texture->texels = known->second;
    } else {
        std::optional<std::string> bytes;
        if (findImage)
            bytes = findImage(map.file);
        if (bytes) {
            auto decoded = std::make_shared<Image>(decodeImage(*bytes, objName, map.file));
            if (snapTexels)
                snapTexels(decoded->rgba);
            if (decoded->translucent)
                imageNotes.push_back(translucentNote(objName, map.file));
            texture->texels = std::move(decoded);
        } else {
            imageNotes.push_back(
                mtlName + ":" + std::to_string(map.line) + ": image \"" + printable(map.file) +
                "\" " + (findImage ? "is not there" : "cannot be read here") +
                "; the faces of material " + texture->material + " keep its colour");
        }
        images.emplace(map.file, texture->texels);
    }
    if (!texture->texels)
        return;
    if (map.clamp)
        texture->wrapU = texture->wrapV = colour::Wrap::ClampToEdge;
    // u' = s u + o; v' = s v + o, then v flipped, as images are stored top row first.
    const double m[6] = {map.scale[0], 0, map.offset[0], 0, -map.scale[1], 1 - map.offset[1]};
    std::copy(m, m + 6, texture->m);
    if (byMaterial.size() <= index)
        byMaterial.resize(index + 1);
    byMaterial[index] = std::move(texture);
}

bool ObjTextures::colour(std::size_t index, std::size_t face, std::size_t firstCorner,
                         float rgb[3]) {
    if (index >= byMaterial.size() || !byMaterial[index])
        return false;
    Texture& texture = *byMaterial[index];
    const std::size_t corners = scan.geo.primitives()(static_cast<long long>(face))->vertexCount;
    bool all = !scan.cornerTex.empty();
    uv.clear();
    for (std::size_t k = 0; all && k < corners; ++k) {
        const std::uint32_t vt = scan.cornerTex[firstCorner + k];
        all = vt > 0;
        if (all) {
            uv.push_back(scan.texCoords[2 * (vt - 1)]);
            uv.push_back(scan.texCoords[2 * (vt - 1) + 1]);
        }
    }
    float linear[3];
    for (int c = 0; c < 3; ++c)
        linear[c] = colour::linearFromSrgb(rgb[c]);
    const long long before = texture.faces;
    colourFromTexture(texture, voter, all ? uv.data() : nullptr, corners, scratch, linear);
    if (texture.faces == before)
        return false;
    for (int c = 0; c < 3; ++c)
        rgb[c] = colour::srgbFromLinear(linear[c]);
    return true;
}

Notes ObjTextures::notes() const {
    Notes all = imageNotes;
    for (const auto& texture : byMaterial) {
        if (!texture)
            continue;
        std::string note = uncoordinatedNote(objName, *texture);
        if (!note.empty())
            all.push_back(std::move(note));
    }
    return all;
}

std::vector<const Texture*> ObjTextures::used() const {
    std::vector<const Texture*> out;
    for (const auto& texture : byMaterial) {
        if (texture)
            out.push_back(texture.get());
    }
    return out;
}

}  // namespace hueslice::io::detail
