#include "io/formats/gltf/textures.h"

#include <cmath>

#include "io/input/input_file.h"
#include "io/input/named_files.h"
#include "io/internal.h"

namespace hueslice::io::detail {

namespace {

constexpr int kClampToEdge = 33071;
constexpr int kMirroredRepeat = 33648;

colour::Wrap wrapOf(int mode) {
    return mode == kClampToEdge      ? colour::Wrap::ClampToEdge
           : mode == kMirroredRepeat ? colour::Wrap::MirroredRepeat
                                     : colour::Wrap::Repeat;
}

// A URI reference with its %XX escapes decoded; a malformed escape is kept as it is.
std::string uriDecoded(const std::string& uri) {
    std::string out;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
            out += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += uri[i];
        }
    }
    return out;
}

double number(const tinygltf::Value& object, const char* key, std::size_t index, double fallback) {
    if (!object.Has(key))
        return fallback;
    const tinygltf::Value& v = object.Get(key);
    const tinygltf::Value& item = v.IsArray() ? v.Get(static_cast<int>(index)) : v;
    return item.IsNumber() ? item.GetNumberAsDouble() : fallback;
}

// KHR_texture_transform as its worked example reads: the lower-left quadrant, turned a quarter
// clockwise, for offset (0, 1), rotation pi/2 and scale (0.5, 0.5). That is, the coordinates
// are scaled, then turned by -rotation in the (u, v) plane, then offset.
void transformOf(const tinygltf::TextureInfo& info, Texture& texture, int& coordinateSet) {
    const auto found = info.extensions.find("KHR_texture_transform");
    if (found == info.extensions.end() || !found->second.IsObject())
        return;
    const tinygltf::Value& t = found->second;
    const double su = number(t, "scale", 0, 1), sv = number(t, "scale", 1, 1);
    const double r = number(t, "rotation", 0, 0);
    const double c = std::cos(r), s = std::sin(r);
    const double m[6] = {c * su,  s * sv, number(t, "offset", 0, 0),
                         -s * su, c * sv, number(t, "offset", 1, 0)};
    std::copy(m, m + 6, texture.m);
    if (t.Has("texCoord") && t.Get("texCoord").IsInt())
        coordinateSet = t.Get("texCoord").GetNumberAsInt();
}

}  // namespace

GltfTextures::GltfTextures(const tinygltf::Model& m, const std::string& n, bool beside,
                           const std::map<int, std::string>& e,
                           const std::function<void(std::vector<std::uint8_t>&)>& snap)
    : snapTexels(snap), model(m), name(n), filesBeside(beside), embedded(e) {}

int GltfTextures::coordinateSet(int material) const {
    const auto found = coordinateSets.find(material);
    return found == coordinateSets.end() ? 0 : found->second;
}

Texture* GltfTextures::of(int material) {
    const auto known = byMaterial.find(material);
    if (known != byMaterial.end())
        return known->second.get();
    std::unique_ptr<Texture>& slot = byMaterial[material];
    const tinygltf::Material& mat = model.materials[static_cast<std::size_t>(material)];
    const tinygltf::TextureInfo& info = mat.pbrMetallicRoughness.baseColorTexture;
    if (info.index < 0)
        return nullptr;
    const std::string where = "material " + std::to_string(material);
    if (static_cast<std::size_t>(info.index) >= model.textures.size()) {
        throw InputError(name + ": " + where + " uses texture " + std::to_string(info.index) +
                         " but " + thereAre(model.textures.size(), "texture", "textures"));
    }
    const tinygltf::Texture& texture = model.textures[static_cast<std::size_t>(info.index)];
    auto made = std::make_unique<Texture>();
    made->material = mat.name.empty() ? std::to_string(material) : "'" + printable(mat.name) + "'";
    if (texture.sampler >= 0) {
        if (static_cast<std::size_t>(texture.sampler) >= model.samplers.size()) {
            throw InputError(name + ": texture " + std::to_string(info.index) + " uses sampler " +
                             std::to_string(texture.sampler) + " but " +
                             thereAre(model.samplers.size(), "sampler", "samplers"));
        }
        const tinygltf::Sampler& sampler =
            model.samplers[static_cast<std::size_t>(texture.sampler)];
        made->wrapU = wrapOf(sampler.wrapS);
        made->wrapV = wrapOf(sampler.wrapT);
    }
    int set = info.texCoord;
    transformOf(info, *made, set);
    coordinateSets[material] = set;
    if (texture.source < 0) {
        imageNotes.push_back(name + ": texture " + std::to_string(info.index) +
                             " has no image this program reads; the faces of material " +
                             made->material + " keep its colour");
        return nullptr;
    }
    made->texels = imageOf(texture.source, made->image);
    if (!made->texels)
        return nullptr;
    slot = std::move(made);
    order.push_back(slot.get());
    return slot.get();
}

std::shared_ptr<const Image> GltfTextures::imageOf(int index, std::string& imageName) {
    if (static_cast<std::size_t>(index) >= model.images.size()) {
        throw InputError(name + ": a texture uses image " + std::to_string(index) + " but " +
                         thereAre(model.images.size(), "image", "images"));
    }
    const tinygltf::Image& image = model.images[static_cast<std::size_t>(index)];
    imageName = !image.uri.empty()    ? image.uri
                : !image.name.empty() ? image.name
                                      : "image " + std::to_string(index);
    const auto known = images.find(index);
    if (known != images.end())
        return known->second;
    std::shared_ptr<const Image>& slot = images[index];
    std::string bytes;
    if (image.bufferView >= 0) {
        if (static_cast<std::size_t>(image.bufferView) >= model.bufferViews.size())
            throw InputError(name + ": image " + std::to_string(index) +
                             " uses a buffer view that is out of range");
        const tinygltf::BufferView& view =
            model.bufferViews[static_cast<std::size_t>(image.bufferView)];
        const std::size_t size =
            view.buffer >= 0 && static_cast<std::size_t>(view.buffer) < model.buffers.size()
                ? model.buffers[static_cast<std::size_t>(view.buffer)].data.size()
                : 0;
        if (view.buffer < 0 || view.byteOffset > size || view.byteLength > size - view.byteOffset)
            throw InputError(name + ": image " + std::to_string(index) + " uses buffer view " +
                             std::to_string(image.bufferView) + ", which ends past its buffer");
        const auto* data = model.buffers[static_cast<std::size_t>(view.buffer)].data.data();
        bytes.assign(reinterpret_cast<const char*>(data) + view.byteOffset, view.byteLength);
    } else if (const auto inside = embedded.find(index); inside != embedded.end()) {
        bytes = inside->second;
    } else {
        const NamedFile file =
            filesBeside ? locateNamedFile(name, uriDecoded(image.uri), "image") : NamedFile{};
        if (!file.found) {
            imageNotes.push_back(name + ": image \"" + printable(imageName) + "\" " +
                                 (filesBeside ? "is not there" : "cannot be read here") +
                                 "; the faces it colours keep their material's colour");
            return nullptr;
        }
        bytes = readWholeFile(file.path);
    }
    auto decoded = std::make_shared<Image>(decodeImage(bytes, name, imageName));
    if (snapTexels)
        snapTexels(decoded->rgba);
    if (decoded->translucent)
        imageNotes.push_back(translucentNote(name, imageName));
    slot = std::move(decoded);
    return slot;
}

Notes GltfTextures::notes() const {
    Notes all = imageNotes;
    for (const Texture* texture : order) {
        std::string note = uncoordinatedNote(name, *texture);
        if (!note.empty())
            all.push_back(std::move(note));
    }
    return all;
}

std::vector<const Texture*> GltfTextures::used() const {
    return order;
}

}  // namespace hueslice::io::detail
