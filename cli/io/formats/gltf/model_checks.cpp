#include "io/formats/gltf/model_checks.h"

#include <cmath>

#include "io/internal.h"
#include "io/io.h"

namespace hueslice::io::gltf {

std::size_t checkedScene(const tinygltf::Model& model, const std::string& name) {
    if (model.defaultScene < 0)
        return 0;
    const auto scene = static_cast<std::size_t>(model.defaultScene);
    if (scene >= model.scenes.size()) {
        throw InputError(name + ": the default scene is scene " + std::to_string(scene) + " but " +
                         detail::thereAre(model.scenes.size(), "scene", "scenes"));
    }
    return scene;
}

std::string noFacesReason(const tinygltf::Model& model, bool skippedPrimitives) {
    if (skippedPrimitives)
        return "its primitives are points or lines";
    if (model.meshes.empty())
        return "the file holds no mesh";
    if (!model.scenes.empty() && model.scenes[checkedScene(model, "")].nodes.empty())
        return "its scene holds no node";
    return "no mesh placed holds a triangle";
}

std::string nodeLabel(int index, const tinygltf::Node& node) {
    return "node " + std::to_string(index) +
           (node.name.empty() ? "" : " '" + printable(node.name) + "'");
}

void checkPlacement(const double* matrix, const std::string& name, const std::string& label) {
    for (int i = 0; i < 16; ++i) {
        if (!std::isfinite(matrix[i])) {
            throw InputError(name + ": " + label +
                             " has a transform that is not finite once its parents' are applied");
        }
    }
}

void checkGroupName(const std::string& group, const std::string& name) {
    if (group.find('\0') != std::string::npos) {
        throw InputError(name + ": the node or mesh name \"" + printable(group) +
                         "\" holds a NUL character");
    }
}

}  // namespace hueslice::io::gltf
