#include "io/formats/3mf/model.h"

#include "io/io.h"

namespace hueslice::io::detail {

Affine compose(const Affine& outer, const Affine& inner) {
    Affine r;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            double sum = j == 3 ? outer.m[i][3] : 0.0;
            for (int k = 0; k < 3; ++k)
                sum += outer.m[i][k] * inner.m[k][j];
            r.m[i][j] = sum;
        }
    }
    return r;
}

void checkVertexIndices(const Package& package, const std::string& name) {
    for (const ModelPart& part : package.parts) {
        for (const Object& object : part.objects) {
            const std::size_t count = object.vertices.size() / 3;
            for (std::size_t t = 0; t < object.triangles.size(); ++t) {
                for (const std::uint32_t v : object.triangles[t].v) {
                    if (v < count)
                        continue;
                    throw InputError(name + ": cannot read 3mf: Invalid model node index in " +
                                     part.label + ": triangle " + std::to_string(t) +
                                     " of object " + std::to_string(object.id) + " uses vertex " +
                                     std::to_string(v) + ", but the object has " +
                                     std::to_string(count) +
                                     (count == 1 ? " vertex" : " vertices"));
                }
            }
        }
    }
}

std::string entryOfPath(const std::string& path) {
    return !path.empty() && path.front() == '/' ? path.substr(1) : path;
}

std::string_view localName(std::string_view qualified) {
    const auto colon = qualified.find(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

std::size_t Package::partOf(std::size_t from, const Placement& p) const {
    if (p.path.empty())
        return from;
    const auto found = partByEntry.find(entryOfPath(p.path));
    return found == partByEntry.end() ? parts.size() : found->second;
}

const Object* Package::objectOf(std::size_t from, const Placement& p, std::size_t& part) const {
    part = partOf(from, p);
    if (part >= parts.size())
        return nullptr;
    const auto found = parts[part].objectById.find(p.objectId);
    return found == parts[part].objectById.end() ? nullptr : &parts[part].objects[found->second];
}

}  // namespace hueslice::io::detail
