#pragma once

// glTF base-colour textures: each material's `baseColorTexture` with its texture coordinate set,
// its sampler's wrap modes and its KHR_texture_transform, and the image it names, from a GLB
// buffer view, a data URI or a file beside the .gltf. Images are decoded here, never by the glTF
// library, and each image once however many materials use it.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <tiny_gltf.h>

#include "io/image/texture.h"

namespace hueslice::io::detail {

class GltfTextures {
  public:
    // `embedded` holds the bytes of the images given as data URIs, by image index. When
    // `filesBeside` is false, `name` is not a path and image files cannot be looked for.
    // `snapTexels`, when set, changes each decoded image's texels before any face votes.
    GltfTextures(const tinygltf::Model& model, const std::string& name, bool filesBeside,
                 const std::map<int, std::string>& embedded,
                 const std::function<void(std::vector<std::uint8_t>&)>& snapTexels);

    // The base-colour texture of material `material`, or null when it has none or its image
    // cannot be had (a missing file or one that cannot be read here: a note names it, and the
    // material's faces keep its colour). Throws InputError for a texture, sampler or image index
    // out of range, an image outside the model's folder tree, and a truncated or corrupt image.
    Texture* of(int material);

    // The coordinate set the material's texture reads (TEXCOORD_n).
    int coordinateSet(int material) const;

    // The notes gathered so far (missing and translucent images, faces without coordinates) and
    // the textures that were used, in the order first used.
    Notes notes() const;
    std::vector<const Texture*> used() const;

  private:
    const std::function<void(std::vector<std::uint8_t>&)>& snapTexels;
    std::shared_ptr<const Image> imageOf(int index, std::string& imageName);

    const tinygltf::Model& model;
    const std::string& name;
    bool filesBeside;
    const std::map<int, std::string>& embedded;
    std::map<int, std::unique_ptr<Texture>> byMaterial;  // null: the material has none
    std::map<int, int> coordinateSets;
    std::map<int, std::shared_ptr<const Image>> images;  // null: missing
    std::vector<const Texture*> order;
    Notes imageNotes;
};

}  // namespace hueslice::io::detail
