#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <tiny_gltf.h>

#include <HOST_Internals.h>

#include "colour/colour_space.h"
#include "io/formats/gltf/gltf.h"
#include "io/internal.h"
#include "io/parts/parts.h"

namespace hueslice::io {

namespace {

// The one buffer of a written file: views appended at 4-byte boundaries.
class BufferBuilder {
  public:
    explicit BufferBuilder(tinygltf::Model& m) : model(m) {}

    int addView(const void* bytes, std::size_t size, int target) {
        while (data.size() % 4 != 0)
            data.push_back(0);
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = data.size();
        view.byteLength = size;
        view.target = target;
        const auto* p = static_cast<const unsigned char*>(bytes);
        data.insert(data.end(), p, p + size);
        model.bufferViews.push_back(view);
        return static_cast<int>(model.bufferViews.size()) - 1;
    }

    int addAccessor(int view, int componentType, int type, std::size_t count) {
        tinygltf::Accessor accessor;
        accessor.bufferView = view;
        accessor.componentType = componentType;
        accessor.type = type;
        accessor.count = count;
        model.accessors.push_back(accessor);
        return static_cast<int>(model.accessors.size()) - 1;
    }

    std::vector<unsigned char> data;

  private:
    tinygltf::Model& model;
};

int addMaterial(tinygltf::Model& model, const std::string& materialName, const float rgb[3]) {
    tinygltf::Material material;
    material.name = materialName;
    material.pbrMetallicRoughness.baseColorFactor = {rgb[0], rgb[1], rgb[2], 1.0};
    material.pbrMetallicRoughness.metallicFactor = 0.0;
    material.doubleSided = true;
    model.materials.push_back(material);
    return static_cast<int>(model.materials.size()) - 1;
}

}  // namespace

WrittenFile writeGltf(const GU_Detail& geo, const std::vector<LegendEntry>& legend, bool binary,
                      const std::string& name) {
    WrittenFile result;
    detail::PartPlan plan = detail::planParts(geo, legend, name);
    result.notes = std::move(plan.notes);

    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "hueslice";
    BufferBuilder buffer(model);
    tinygltf::Scene scene;
    std::vector<unsigned> scratch;
    detail::PartMesh mesh;
    bool clamped = false;
    const auto unit = [&](float value) {
        const float u = detail::unitColour(value);
        clamped = clamped || !(u == value);
        return u;
    };
    std::vector<float> positions;
    std::vector<float> cornerColours;
    for (const detail::Part& part : plan.parts) {
        detail::buildPartMesh(geo, part, scratch, mesh);
        // The faces in no group have no one colour: their points are not shared, so that each
        // corner carries its face's colour.
        const bool ownColours = part.name.empty() && plan.colourOffset >= 0;
        positions.clear();
        cornerColours.clear();
        const auto addPosition = [&](unsigned point) {
            const UT_Vector3& p = geo.points()[point];
            for (int c = 0; c < 3; ++c) {
                if (!std::isfinite(p[c])) {
                    throw OutputError(name + ": point " + std::to_string(point) +
                                      " is not a finite position, which glTF cannot carry");
                }
                positions.push_back(p[c]);
            }
        };
        if (ownColours) {
            for (std::size_t t = 0; t < mesh.triangleFace.size(); ++t) {
                float rgb[3];
                detail::faceColour(geo, mesh.triangleFace[t], plan.colourOffset, rgb);
                for (int k = 0; k < 3; ++k) {
                    addPosition(mesh.points[mesh.triangles[3 * t + static_cast<std::size_t>(k)]]);
                    for (float c : rgb)
                        cornerColours.push_back(colour::linearFromSrgb(unit(c)));
                }
            }
        } else {
            for (unsigned point : mesh.points)
                addPosition(point);
        }
        const std::size_t count = positions.size() / 3;
        std::vector<double> low(3, std::numeric_limits<double>::infinity());
        std::vector<double> high(3, -std::numeric_limits<double>::infinity());
        for (std::size_t i = 0; i < positions.size(); ++i) {
            low[i % 3] = std::min(low[i % 3], static_cast<double>(positions[i]));
            high[i % 3] = std::max(high[i % 3], static_cast<double>(positions[i]));
        }

        tinygltf::Primitive prim;
        prim.mode = TINYGLTF_MODE_TRIANGLES;
        const int positionView =
            buffer.addView(positions.data(), positions.size() * 4, TINYGLTF_TARGET_ARRAY_BUFFER);
        const int positionAccessor = buffer.addAccessor(positionView, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                                        TINYGLTF_TYPE_VEC3, count);
        model.accessors[static_cast<std::size_t>(positionAccessor)].minValues = low;
        model.accessors[static_cast<std::size_t>(positionAccessor)].maxValues = high;
        prim.attributes["POSITION"] = positionAccessor;
        float white[3] = {1.0f, 1.0f, 1.0f};
        if (ownColours) {
            const int colourView = buffer.addView(cornerColours.data(), cornerColours.size() * 4,
                                                  TINYGLTF_TARGET_ARRAY_BUFFER);
            prim.attributes["COLOR_0"] = buffer.addAccessor(
                colourView, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count);
            prim.material = addMaterial(model, "ungrouped", white);
        } else {
            const int indexView = buffer.addView(mesh.triangles.data(), mesh.triangles.size() * 4,
                                                 TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
            prim.indices = buffer.addAccessor(indexView, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                                              TINYGLTF_TYPE_SCALAR, mesh.triangles.size());
            const float rgb[3] = {colour::linearFromSrgb(unit(part.colour[0])),
                                  colour::linearFromSrgb(unit(part.colour[1])),
                                  colour::linearFromSrgb(unit(part.colour[2]))};
            prim.material = addMaterial(model, part.name.empty() ? "ungrouped" : part.name, rgb);
        }
        tinygltf::Mesh gltfMesh;
        gltfMesh.name = part.name;
        gltfMesh.primitives.push_back(prim);
        model.meshes.push_back(gltfMesh);
        tinygltf::Node node;
        node.name = part.name;
        node.mesh = static_cast<int>(model.meshes.size()) - 1;
        model.nodes.push_back(node);
        scene.nodes.push_back(static_cast<int>(model.nodes.size()) - 1);
    }
    if (!buffer.data.empty()) {
        tinygltf::Buffer data;
        data.data = std::move(buffer.data);
        model.buffers.push_back(std::move(data));
    }
    if (!scene.nodes.empty()) {
        model.scenes.push_back(scene);
        model.defaultScene = 0;
    }
    if (clamped)
        result.notes.push_back(name + ": colours outside [0, 1] written clamped");

    std::ostringstream stream;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&model, stream, false, binary))
        throw OutputError(name + ": cannot encode glTF");
    result.bytes = stream.str();
    return result;
}

Notes stageGltf(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                const std::vector<LegendEntry>& legend, bool) {
    return detail::stageWritten(batch, path, writeGltf(detail, legend, false, path));
}

Notes stageGlb(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool) {
    return detail::stageWritten(batch, path, writeGltf(detail, legend, true, path));
}

}  // namespace hueslice::io
