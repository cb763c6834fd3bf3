#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>

#include <tiny_gltf.h>

#include <HOST_Internals.h>

#include "colour/colour_space.h"
#include "colour/corner_vote.h"
#include "io/formats/gltf/files.h"
#include "io/formats/gltf/gltf.h"
#include "io/formats/gltf/limits.h"
#include "io/formats/gltf/model_checks.h"
#include "io/formats/gltf/textures.h"
#include "io/input/input_file.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

constexpr int kTriangles = 4;
constexpr int kTriangleStrip = 5;
constexpr int kTriangleFan = 6;

[[noreturn]] void fail(const std::string& name, const std::string& what) {
    throw InputError(name + ": " + what);
}

// Images are decoded by the textures (textures.h), not by the glTF library: only the bytes of an
// image given as a data URI are kept here, as the library does not keep them itself.
bool keepEmbeddedImage(tinygltf::Image* image, const int index, std::string*, std::string*, int,
                       int, const unsigned char* bytes, int size, void* embedded) {
    if (image->uri.empty() && image->bufferView < 0 && bytes && size > 0) {
        (*static_cast<std::map<int, std::string>*>(embedded))[index] =
            std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    }
    return true;
}

// Column-major 4x4, as glTF stores it.
using Matrix = std::array<double, 16>;

constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r{};
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += a[static_cast<std::size_t>(k * 4 + row)] *
                       b[static_cast<std::size_t>(col * 4 + k)];
            r[static_cast<std::size_t>(col * 4 + row)] = sum;
        }
    }
    return r;
}

Matrix localMatrix(const tinygltf::Node& node) {
    if (node.matrix.size() == 16) {
        Matrix m;
        std::copy(node.matrix.begin(), node.matrix.end(), m.begin());
        return m;
    }
    Matrix m = kIdentity;
    if (node.rotation.size() == 4) {
        const double x = node.rotation[0], y = node.rotation[1], z = node.rotation[2],
                     w = node.rotation[3];
        m = {1 - 2 * (y * y + z * z),
             2 * (x * y + z * w),
             2 * (x * z - y * w),
             0,
             2 * (x * y - z * w),
             1 - 2 * (x * x + z * z),
             2 * (y * z + x * w),
             0,
             2 * (x * z + y * w),
             2 * (y * z - x * w),
             1 - 2 * (x * x + y * y),
             0,
             0,
             0,
             0,
             1};
    }
    if (node.scale.size() == 3) {
        for (int col = 0; col < 3; ++col) {
            for (int row = 0; row < 3; ++row)
                m[static_cast<std::size_t>(col * 4 + row)] *=
                    node.scale[static_cast<std::size_t>(col)];
        }
    }
    if (node.translation.size() == 3) {
        for (int row = 0; row < 3; ++row)
            m[static_cast<std::size_t>(12 + row)] = node.translation[static_cast<std::size_t>(row)];
    }
    return m;
}

// An accessor checked against its buffer view and buffer: every element lies inside.
struct View {
    const unsigned char* data = nullptr;
    std::size_t stride = 0;
    std::size_t count = 0;
    int componentType = 0;
    int components = 0;
    bool normalized = false;

    const unsigned char* at(std::size_t i) const { return data + i * stride; }
};

View viewOf(const tinygltf::Model& model, int index, const std::string& name,
            const std::string& what) {
    const auto bad = [&](const std::string& fault) {
        fail(name, "accessor " + std::to_string(index) + " (" + what + ") " + fault);
    };
    if (index < 0 || static_cast<std::size_t>(index) >= model.accessors.size()) {
        fail(name, what + " names accessor " + std::to_string(index) + " but " +
                       detail::thereAre(model.accessors.size(), "accessor", "accessors"));
    }
    const tinygltf::Accessor& a = model.accessors[static_cast<std::size_t>(index)];
    if (a.sparse.isSparse)
        bad("is sparse, which is not supported");
    if (a.bufferView < 0 || static_cast<std::size_t>(a.bufferView) >= model.bufferViews.size())
        bad("has no buffer view in range");
    const tinygltf::BufferView& bv = model.bufferViews[static_cast<std::size_t>(a.bufferView)];
    if (bv.buffer < 0 || static_cast<std::size_t>(bv.buffer) >= model.buffers.size())
        bad("uses a buffer view whose buffer is out of range");
    const std::size_t bufferSize = model.buffers[static_cast<std::size_t>(bv.buffer)].data.size();
    if (bv.byteOffset > bufferSize || bv.byteLength > bufferSize - bv.byteOffset) {
        bad("uses buffer view " + std::to_string(a.bufferView) + ", which ends past its buffer's " +
            std::to_string(bufferSize) + " bytes");
    }
    const int componentSize =
        tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(a.componentType));
    const int components = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(a.type));
    if (componentSize <= 0 || components <= 0)
        bad("has an unknown component type or element type");
    const auto elementSize = static_cast<std::size_t>(componentSize * components);
    const std::size_t stride = bv.byteStride ? bv.byteStride : elementSize;
    if (stride < elementSize)
        bad("has a byte stride smaller than its elements");
    if (a.count > 0) {
        const std::size_t room = bv.byteLength;
        const bool fits = a.byteOffset <= room && elementSize <= room - a.byteOffset &&
                          (a.count - 1) <= (room - a.byteOffset - elementSize) / stride;
        if (!fits) {
            bad("has " + std::to_string(a.count) + " elements from byte " +
                std::to_string(a.byteOffset) + ", which reach past the " + std::to_string(room) +
                " bytes of buffer view " + std::to_string(a.bufferView));
        }
    }
    View v;
    v.data = model.buffers[static_cast<std::size_t>(bv.buffer)].data.data() + bv.byteOffset +
             a.byteOffset;
    v.stride = stride;
    v.count = a.count;
    v.componentType = a.componentType;
    v.components = components;
    v.normalized = a.normalized;
    return v;
}

template <typename T>
T load(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Component `c` of element `i` as a float: floats as stored, normalized integers scaled.
float componentOf(const View& v, std::size_t i, int c) {
    const unsigned char* p = v.at(i);
    switch (v.componentType) {
        case TINYGLTF_COMPONENT_TYPE_FLOAT:
            return load<float>(p + 4 * c);
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
            return static_cast<float>(p[c]) / 255.0f;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
            return static_cast<float>(load<std::uint16_t>(p + 2 * c)) / 65535.0f;
        default:
            return 0.0f;
    }
}

std::uint32_t indexOf(const View& v, std::size_t i) {
    const unsigned char* p = v.at(i);
    switch (v.componentType) {
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
            return p[0];
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
            return load<std::uint16_t>(p);
        default:
            return load<std::uint32_t>(p);
    }
}

// Builds the detail from the meshes that the scene's nodes place.
class SceneReader {
  public:
    SceneReader(const tinygltf::Model& m, const std::string& n, bool filesBeside,
                const std::map<int, std::string>& embedded, const ReadOptions& options)
        : model(m), name(n), textures(m, n, filesBeside, embedded, options.snapTexels) {}

    Notes read(GU_Detail& out) {
        if (model.scenes.empty() && model.defaultScene < 0) {
            for (std::size_t m = 0; m < model.meshes.size(); ++m)
                addMesh(static_cast<int>(m), kIdentity, "");
        } else {
            walk(model.scenes[gltf::checkedScene(model, name)].nodes);
        }
        if (geo.primitiveCount() == 0)
            notes.push_back(detail::noFacesNote(
                name, gltf::noFacesReason(model, skippedPrimitives > 0), false));
        if (anyColour)
            detail::setFaceColours(geo, colours);
        if (votedFaces > 0)
            notes.push_back(detail::cornerColourNote(name, votedFaces, ties));
        for (std::string& note : textures.notes())
            notes.push_back(std::move(note));
        if (skippedPrimitives > 0) {
            notes.push_back(name + ": " +
                            detail::countOf(skippedPrimitives, "primitive", "primitives") +
                            " of points or lines left out");
        }
        out = geo;
        return std::move(notes);
    }

    ColourSource source() const {
        ColourSource out = counts;
        out.ties = ties;
        for (const Texture* texture : textures.used()) {
            out.textures.push_back(TextureReport{texture->material, texture->image,
                                                 texture->texels->width, texture->texels->height,
                                                 texture->faces});
        }
        return out;
    }

  private:
    // Depth first over the node tree without recursion, so that deep trees cannot exhaust the
    // stack. A node reached twice is refused: glTF nodes form a tree.
    void walk(const std::vector<int>& roots) {
        std::vector<unsigned char> reached(model.nodes.size(), 0);
        std::vector<std::pair<int, Matrix>> stack;
        for (auto it = roots.rbegin(); it != roots.rend(); ++it)
            stack.emplace_back(*it, kIdentity);
        while (!stack.empty()) {
            const auto [index, parent] = stack.back();
            stack.pop_back();
            if (index < 0 || static_cast<std::size_t>(index) >= model.nodes.size()) {
                fail(name, "node " + std::to_string(index) + " is used but " +
                               detail::thereAre(model.nodes.size(), "node", "nodes"));
            }
            if (reached[static_cast<std::size_t>(index)]++)
                fail(name,
                     "node " + std::to_string(index) + " is reached twice (nodes form a tree)");
            const tinygltf::Node& node = model.nodes[static_cast<std::size_t>(index)];
            const Matrix world = multiply(parent, localMatrix(node));
            placing = gltf::nodeLabel(index, node);
            gltf::checkPlacement(world.data(), name, placing);
            if (node.mesh >= 0)
                addMesh(node.mesh, world, node.name);
            for (auto it = node.children.rbegin(); it != node.children.rend(); ++it)
                stack.emplace_back(*it, world);
        }
    }

    GB_PrimitiveGroup* groupFor(const std::string& groupName) {
        if (groupName.empty())
            return nullptr;
        gltf::checkGroupName(groupName, name);
        if (GB_PrimitiveGroup* found = geo.primitiveGroups().find(groupName.c_str()))
            return found;
        return geo.primitiveGroups().newGroup(groupName.c_str());
    }

    void addMesh(int meshIndex, const Matrix& world, const std::string& nodeName) {
        if (meshIndex < 0 || static_cast<std::size_t>(meshIndex) >= model.meshes.size()) {
            fail(name, "a node uses mesh " + std::to_string(meshIndex) + " but " +
                           detail::thereAre(model.meshes.size(), "mesh", "meshes"));
        }
        const tinygltf::Mesh& mesh = model.meshes[static_cast<std::size_t>(meshIndex)];
        GB_PrimitiveGroup* group = groupFor(nodeName.empty() ? mesh.name : nodeName);
        for (std::size_t p = 0; p < mesh.primitives.size(); ++p)
            addPrimitive(mesh.primitives[p],
                         "mesh " + std::to_string(meshIndex) + " primitive " + std::to_string(p),
                         world, group);
    }

    void addPrimitive(const tinygltf::Primitive& prim, const std::string& where,
                      const Matrix& world, GB_PrimitiveGroup* group) {
        const int mode = prim.mode < 0 ? kTriangles : prim.mode;
        if (mode != kTriangles && mode != kTriangleStrip && mode != kTriangleFan) {
            ++skippedPrimitives;
            return;
        }
        const auto position = prim.attributes.find("POSITION");
        if (position == prim.attributes.end())
            fail(name, where + " has no POSITION");
        const View points = viewOf(model, position->second, name, where + " POSITION");
        if (points.componentType != TINYGLTF_COMPONENT_TYPE_FLOAT || points.components != 3)
            fail(name, where + " POSITION is not three floats");
        View corners;
        Texture* texture = nullptr;
        const auto colour0 = prim.attributes.find("COLOR_0");
        if (colour0 != prim.attributes.end()) {
            corners = viewOf(model, colour0->second, name, where + " COLOR_0");
            const bool floats = corners.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT;
            const bool scaled = corners.normalized &&
                                (corners.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ||
                                 corners.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
            if ((!floats && !scaled) || corners.components < 3 || corners.components > 4) {
                fail(name, where +
                               " COLOR_0 is not 3 or 4 floats or normalized unsigned "
                               "bytes or shorts");
            }
            if (corners.count != points.count) {
                fail(name, where + " has " + std::to_string(corners.count) +
                               " COLOR_0 values for " + std::to_string(points.count) +
                               " positions");
            }
            anyColour = true;
        }
        float base[3] = {1.0f, 1.0f, 1.0f};
        if (prim.material >= 0) {
            if (static_cast<std::size_t>(prim.material) >= model.materials.size()) {
                fail(name, where + " uses material " + std::to_string(prim.material) + " but " +
                               detail::thereAre(model.materials.size(), "material", "materials"));
            }
            const tinygltf::Material& material =
                model.materials[static_cast<std::size_t>(prim.material)];
            const std::vector<double>& factor = material.pbrMetallicRoughness.baseColorFactor;
            for (std::size_t c = 0; c < 3 && c < factor.size(); ++c) {
                if (!detail::narrowToFloat(factor[c], base[c]))
                    base[c] = 1.0f;
            }
            texture = textures.of(prim.material);
            anyColour = true;
        }

        const auto firstPoint = static_cast<unsigned long long>(geo.pointCount());
        for (std::size_t i = 0; i < points.count; ++i) {
            double p[3];
            for (int c = 0; c < 3; ++c)
                p[c] = componentOf(points, i, c);
            float q[3];
            for (int row = 0; row < 3; ++row) {
                const double value = world[static_cast<std::size_t>(row)] * p[0] +
                                     world[static_cast<std::size_t>(4 + row)] * p[1] +
                                     world[static_cast<std::size_t>(8 + row)] * p[2] +
                                     world[static_cast<std::size_t>(12 + row)];
                if (!std::isfinite(value) || !detail::narrowToFloat(value, q[row])) {
                    fail(name, where + " position " + std::to_string(i) +
                                   " is out of range once placed" +
                                   (placing.empty() ? "" : " by " + placing));
                }
            }
            geo.appendPoint(UT_Vector3(q[0], q[1], q[2]));
        }

        std::vector<std::uint32_t> order;
        if (prim.indices >= 0) {
            const View indices = viewOf(model, prim.indices, name, where + " indices");
            const int type = indices.componentType;
            if (indices.components != 1 || (type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE &&
                                            type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
                                            type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)) {
                fail(name, where + " indices are not unsigned integers");
            }
            order.reserve(indices.count);
            for (std::size_t i = 0; i < indices.count; ++i) {
                const std::uint32_t index = indexOf(indices, i);
                if (index >= points.count) {
                    fail(name, where + " index " + std::to_string(i) + " is " +
                                   std::to_string(index) + " but there are only " +
                                   std::to_string(points.count) + " positions");
                }
                order.push_back(index);
            }
        } else {
            for (std::size_t i = 0; i < points.count; ++i)
                order.push_back(static_cast<std::uint32_t>(i));
        }

        // COLOR_0 as floats, three per position, for the vote of each face's corners.
        cornerRgb.clear();
        if (corners.data) {
            cornerRgb.reserve(3 * corners.count);
            for (std::size_t i = 0; i < corners.count; ++i) {
                for (int k = 0; k < 3; ++k)
                    cornerRgb.push_back(componentOf(corners, i, k));
            }
        }
        // The texture's coordinates, two per position; none when the primitive has no such set.
        textureUv.clear();
        if (texture) {
            const auto set = prim.attributes.find(
                "TEXCOORD_" + std::to_string(textures.coordinateSet(prim.material)));
            if (set != prim.attributes.end()) {
                const View uv = viewOf(model, set->second, name, where + " " + set->first);
                if (uv.components != 2 || uv.count < points.count)
                    fail(name, where + " " + set->first + " is not two numbers per position");
                for (std::size_t i = 0; i < points.count; ++i)
                    textureUv.insert(textureUv.end(),
                                     {componentOf(uv, i, 0), componentOf(uv, i, 1)});
            }
        }
        const auto addTriangle = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            const unsigned v[3] = {static_cast<unsigned>(firstPoint + a),
                                   static_cast<unsigned>(firstPoint + b),
                                   static_cast<unsigned>(firstPoint + c)};
            const long long face = geo.appendPrimitive(v, 3);
            float rgb[3] = {base[0], base[1], base[2]};
            const long long texturedBefore = texture ? texture->faces : 0;
            if (!cornerRgb.empty()) {
                const unsigned local[3] = {a, b, c};
                const colour::VoteResult result = voter.vote(cornerRgb.data(), local, 3);
                const std::size_t winner = local[result.winner];
                for (int k = 0; k < 3; ++k)
                    rgb[k] *= cornerRgb[3 * winner + static_cast<std::size_t>(k)];
                ++votedFaces;
                ties += result.tie ? 1 : 0;
            }
            if (texture) {
                double uv[6];
                for (int k = 0; k < 3; ++k) {
                    const std::size_t corner = k == 0 ? a : k == 1 ? b : c;
                    uv[2 * k] = textureUv.empty() ? 0 : textureUv[2 * corner];
                    uv[2 * k + 1] = textureUv.empty() ? 0 : textureUv[2 * corner + 1];
                }
                colourFromTexture(*texture, texelVoter, textureUv.empty() ? nullptr : uv, 3,
                                  movedUv, rgb);
            }
            if (texture && texture->faces > texturedBefore)
                ++counts.textureColour;
            else if (!cornerRgb.empty())
                ++counts.cornerColour;
            else
                ++(prim.material >= 0 ? counts.ownColour : counts.noColour);
            for (float channel : rgb)  // linear light in the file, sRGB-encoded in "Cd"
                colours.push_back(colour::srgbFromLinear(channel));
            if (group)
                HOST_Internals::addMember(*group, static_cast<unsigned>(face));
        };
        if (mode == kTriangles) {
            for (std::size_t i = 0; i + 2 < order.size(); i += 3)
                addTriangle(order[i], order[i + 1], order[i + 2]);
        } else if (mode == kTriangleStrip) {
            for (std::size_t i = 0; i + 2 < order.size(); ++i) {
                if (i % 2 == 0)
                    addTriangle(order[i], order[i + 1], order[i + 2]);
                else
                    addTriangle(order[i + 1], order[i], order[i + 2]);
            }
        } else {
            for (std::size_t i = 1; i + 1 < order.size(); ++i)
                addTriangle(order[0], order[i], order[i + 1]);
        }
    }

    const tinygltf::Model& model;
    const std::string& name;
    std::string placing;  // the node whose mesh is being placed, for messages
    GU_Detail geo;
    std::vector<float> colours;  // per face
    Notes notes;
    detail::GltfTextures textures;
    colour::TexelVoter texelVoter;
    std::vector<double> textureUv;  // of the primitive being read
    std::vector<double> movedUv;
    colour::CornerVoter voter;
    std::vector<float> cornerRgb;  // COLOR_0 of the primitive being read
    ColourSource counts;
    long long votedFaces = 0;
    long long ties = 0;
    bool anyColour = false;
    unsigned long long skippedPrimitives = 0;
};

}  // namespace

Notes readGltf(std::string_view bytes, const std::string& name, GU_Detail& out, bool followFiles,
               ColourSource* source, const ReadOptions& options) {
    if (bytes.size() > std::numeric_limits<unsigned int>::max())
        fail(name, "file is larger than 4 GiB");
    const bool binary = bytes.substr(0, 4) == "glTF";
    const std::string_view json = binary ? gltf::glbJson(bytes, name) : bytes;
    gltf::checkJsonDepth(json, name);
    tinygltf::TinyGLTF loader;
    std::map<int, std::string> embeddedImages;
    loader.SetImageLoader(keepEmbeddedImage, &embeddedImages);
    gltf::ExternalFiles files(name, followFiles);
    files.install(loader);
    tinygltf::Model model;
    std::string error;
    std::string warning;
    const auto size = static_cast<unsigned int>(bytes.size());
    const std::string base = gltf::ExternalFiles::baseDir();
    const bool loaded =
        binary ? loader.LoadBinaryFromMemory(&model, &error, &warning,
                                             reinterpret_cast<const unsigned char*>(bytes.data()),
                                             size, base)
               : loader.LoadASCIIFromString(&model, &error, &warning, bytes.data(), size, base);
    files.throwRefusal();
    if (!loaded) {
        // The library turns what its JSON parser throws into words, memory running out too;
        // only the exact words, not a parse error quoting the input, mean that.
        if (error == std::bad_alloc().what())
            throw std::bad_alloc();
        if (gltf::isGltf1(json))
            fail(name, "glTF 1.0 is not supported");
        std::string first = error.substr(0, error.find('\n'));
        if (first.empty())
            first = "not a glTF file";
        fail(name, "cannot read " + std::string(binary ? "glb" : "gltf") + ": " + first);
    }
    if (model.asset.version.rfind("1.", 0) == 0)
        fail(name, "glTF 1.0 is not supported");
    SceneReader reader(model, name, followFiles, embeddedImages, options);
    Notes notes = reader.read(out);
    if (source)
        *source = reader.source();
    return notes;
}

Notes readGltfFile(const std::string& path, GU_Detail& out, const ReadOptions& options,
                   ColourSource* source) {
    return readGltf(readWholeFile(path), path, out, true, source, options);
}

}  // namespace hueslice::io
