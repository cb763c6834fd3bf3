#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <HOST_Internals.h>

#include "io/formats/json/json_geometry.h"
#include "io/input/input_file.h"
#include "io/internal.h"
#include "io/text/json_text.h"
#include "io/text/text_out.h"

namespace hueslice::io {

using detail::describe;
using detail::fail;
using detail::Json;
using detail::kMaxComponents;

namespace {

const char* const kTopKeys[] = {"points", "primitives", "primitive_attributes", "detail_attributes",
                                "primitive_groups"};

class GeometryReader {
  public:
    GeometryReader(const detail::ParsedJson& parsedJson, const std::string& fileName)
        : parsed(parsedJson), name(fileName) {}

    void read(GU_Detail& geo) {
        const Json& root = parsed.value;
        if (!root.is_object())
            fail(name, 1, "expected an object at the top, found " + describe(root));
        for (const auto& item : root.items()) {
            bool known = false;
            for (const char* key : kTopKeys)
                known = known || item.key() == key;
            if (!known)
                fail(name, parsed.keyLine(item.key()), "unknown key '" + item.key() + "'");
        }
        readPoints(root, geo);
        readPrimitives(root, geo);
        if (root.contains("primitive_attributes"))
            readPrimitiveAttributes(root, geo);
        if (root.contains("detail_attributes"))
            readDetailAttributes(root, geo);
        if (root.contains("primitive_groups"))
            readGroups(root, geo);
    }

  private:
    const Json& member(const Json& object, const std::string& key, const std::string& path) {
        if (!object.contains(key))
            fail(name, parsed.keyLine(path), "missing key '" + key + "'");
        return object.at(key);
    }

    const Json& arrayAt(const Json& object, const std::string& key, const std::string& path) {
        const std::string keyPath = path.empty() ? key : path + "/" + key;
        const Json& value = member(object, key, path);
        if (!value.is_array()) {
            fail(name, parsed.keyLine(keyPath),
                 "'" + key + "' must be an array, found " + describe(value));
        }
        return value;
    }

    const Json& objectAt(const Json& root, const std::string& key) {
        const Json& value = root.at(key);
        if (!value.is_object()) {
            fail(name, parsed.keyLine(key),
                 "'" + key + "' must be an object, found " + describe(value));
        }
        return value;
    }

    void readPoints(const Json& root, GU_Detail& geo) {
        const Json& points = arrayAt(root, "points", "");
        geo.reservePoints(points.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Json& p = points[i];
            const int line = parsed.elementLine("points", i);
            if (!p.is_array() || p.size() != 3) {
                fail(name, line, "point " + std::to_string(i) + " must be an array of 3 numbers");
            }
            UT_Vector3 pos;
            for (int c = 0; c < 3; ++c) {
                if (!detail::jsonToFloat(p[static_cast<std::size_t>(c)], pos[c])) {
                    fail(name, line,
                         "point " + std::to_string(i) + " has a coordinate that is not a float");
                }
            }
            geo.appendPoint(pos);
        }
    }

    void readPrimitives(const Json& root, GU_Detail& geo) {
        const Json& prims = arrayAt(root, "primitives", "");
        const auto pointCount = static_cast<unsigned long long>(geo.pointCount());
        std::size_t vertices = 0;
        for (const Json& prim : prims)
            vertices += prim.is_array() ? prim.size() : 0;
        geo.reservePrimitives(prims.size(), vertices);
        std::vector<unsigned> indices;
        for (std::size_t i = 0; i < prims.size(); ++i) {
            const Json& prim = prims[i];
            const int line = parsed.elementLine("primitives", i);
            const std::string what = "primitive " + std::to_string(i);
            if (!prim.is_array())
                fail(name, line, what + " must be an array of point indices");
            if (prim.empty())
                fail(name, line, what + " has no vertices");
            indices.clear();
            for (const Json& index : prim) {
                if (!index.is_number_integer()) {
                    fail(name, line, what + " has an index that is not an integer");
                }
                if (index.is_number_unsigned() && index.get<std::uint64_t>() < pointCount) {
                    indices.push_back(static_cast<unsigned>(index.get<std::uint64_t>()));
                    continue;
                }
                if (!index.is_number_unsigned())
                    fail(name, line, what + " has negative index " + index.dump());
                fail(name, line,
                     what + " has index " + index.dump() + " but " +
                         detail::thereAre(pointCount, "point", "points"));
            }
            geo.appendPrimitive(indices.data(), static_cast<unsigned>(indices.size()));
        }
    }

    struct AttribShape {
        int type = 0;
        int components = 0;
    };

    AttribShape readShape(const Json& attrib, const std::string& path, const std::string& what) {
        if (!attrib.is_object())
            fail(name, parsed.keyLine(path), what + " must be an object");
        for (const auto& item : attrib.items()) {
            if (item.key() != "type" && item.key() != "size" && item.key() != "values" &&
                item.key() != "value") {
                fail(name, parsed.keyLine(path + "/" + item.key()),
                     what + " has unknown key '" + item.key() + "'");
            }
        }
        AttribShape shape;
        const Json& type = member(attrib, "type", path);
        if (type == "float") {
            shape.type = GB_ATTRIB_FLOAT;
        } else if (type == "int") {
            shape.type = GB_ATTRIB_INT;
        } else {
            fail(name, parsed.keyLine(path + "/type"),
                 what + " has unknown type " + type.dump() + " (expected \"float\" or \"int\")");
        }
        const Json& size = member(attrib, "size", path);
        if (!detail::jsonToInt32(size, shape.components) || shape.components < 1 ||
            shape.components > kMaxComponents) {
            fail(name, parsed.keyLine(path + "/size"),
                 what + " size must be an integer from 1 to " + std::to_string(kMaxComponents));
        }
        return shape;
    }

    // Writes one tuple of `shape` from `tuple` into `record`.
    void readTuple(const Json& tuple, const AttribShape& shape, unsigned char* record, int line,
                   const std::string& what) {
        if (!tuple.is_array() || tuple.size() != static_cast<std::size_t>(shape.components)) {
            fail(name, line,
                 what + " must be an array of " + std::to_string(shape.components) + " numbers");
        }
        for (int c = 0; c < shape.components; ++c) {
            const Json& v = tuple[static_cast<std::size_t>(c)];
            unsigned char* at = record + 4 * c;
            if (shape.type == GB_ATTRIB_FLOAT) {
                float f = 0.0f;
                if (!detail::jsonToFloat(v, f))
                    fail(name, line, what + " has a value that is not a float");
                std::memcpy(at, &f, sizeof f);
            } else {
                int i = 0;
                if (!detail::jsonToInt32(v, i)) {
                    fail(name, line, what + " has a value that is not a 32-bit integer");
                }
                std::memcpy(at, &i, sizeof i);
            }
        }
    }

    void checkName(const std::string& attribName, const std::string& path, const char* kind) {
        if (attribName.empty())
            fail(name, parsed.keyLine(path), std::string(kind) + " with an empty name");
        // Names become C strings in the host, where a NUL would cut them short and could make
        // two names one.
        if (attribName.find('\0') != std::string::npos)
            fail(name, parsed.keyLine(path), std::string(kind) + " name holds a NUL character");
    }

    void readPrimitiveAttributes(const Json& root, GU_Detail& geo) {
        const Json& attribs = objectAt(root, "primitive_attributes");
        for (const auto& item : attribs.items()) {
            const std::string path = "primitive_attributes/" + item.key();
            const std::string what = "primitive attribute '" + item.key() + "'";
            checkName(item.key(), path, "primitive attribute");
            const AttribShape shape = readShape(item.value(), path, what);
            const Json& values = arrayAt(item.value(), "values", path);
            if (values.size() != static_cast<std::size_t>(geo.primitiveCount())) {
                fail(name, parsed.keyLine(path + "/values"),
                     what + " has " + detail::countOf(values.size(), "value", "values") + " but " +
                         detail::thereAre(static_cast<unsigned long long>(geo.primitiveCount()),
                                          "primitive", "primitives"));
            }
            const int offset =
                geo.addPrimitiveAttrib(item.key().c_str(), 4 * shape.components, shape.type);
            if (offset < 0)
                fail(name, parsed.keyLine(path), what + " cannot be added");
            for (std::size_t i = 0; i < values.size(); ++i) {
                readTuple(
                    values[i], shape, geo.primitiveAttribData(static_cast<long long>(i)) + offset,
                    parsed.elementLine(path + "/values", i), what + " value " + std::to_string(i));
            }
        }
    }

    void readDetailAttributes(const Json& root, GU_Detail& geo) {
        const Json& attribs = objectAt(root, "detail_attributes");
        for (const auto& item : attribs.items()) {
            const std::string path = "detail_attributes/" + item.key();
            const std::string what = "detail attribute '" + item.key() + "'";
            checkName(item.key(), path, "detail attribute");
            const AttribShape shape = readShape(item.value(), path, what);
            const Json& value = member(item.value(), "value", path);
            const int offset =
                geo.addDetailAttrib(item.key().c_str(), 4 * shape.components, shape.type);
            if (offset < 0)
                fail(name, parsed.keyLine(path), what + " cannot be added");
            readTuple(value, shape, geo.detailAttribData() + offset,
                      parsed.keyLine(path + "/value"), what + " value");
        }
    }

    void readGroups(const Json& root, GU_Detail& geo) {
        const Json& groups = objectAt(root, "primitive_groups");
        const auto primCount = static_cast<std::uint64_t>(geo.primitiveCount());
        for (const auto& item : groups.items()) {
            const std::string path = "primitive_groups/" + item.key();
            const std::string what = "group '" + item.key() + "'";
            checkName(item.key(), path, "group");
            if (!item.value().is_array()) {
                fail(name, parsed.keyLine(path), what + " must be an array of primitive numbers");
            }
            std::vector<unsigned> members;
            members.reserve(item.value().size());
            for (std::size_t i = 0; i < item.value().size(); ++i) {
                const Json& m = item.value()[i];
                const int line = parsed.elementLine(path, i);
                if (!m.is_number_unsigned() || m.get<std::uint64_t>() >= primCount) {
                    fail(name, line,
                         what + " has member " + m.dump() + " but " +
                             detail::thereAre(primCount, "primitive", "primitives"));
                }
                const auto index = static_cast<unsigned>(m.get<std::uint64_t>());
                if (!members.empty() && index <= members.back()) {
                    fail(name, line,
                         what + " members must be ascending without repeats (" +
                             std::to_string(index) + " after " + std::to_string(members.back()) +
                             ")");
                }
                members.push_back(index);
            }
            HOST_Internals::setMembers(*geo.primitiveGroups().newGroup(item.key().c_str(), 0),
                                       std::move(members));
        }
    }

    const detail::ParsedJson& parsed;
    const std::string& name;
};

}  // namespace

void readJsonGeometry(std::string_view text, const std::string& name, GU_Detail& out,
                      ColourSource* source) {
    const detail::ParsedJson parsed = detail::parseJson(text, name);
    GU_Detail geo;
    GeometryReader(parsed, name).read(geo);
    if (source) {
        // JSON carries colours on primitives only: the current layer's attribute or nothing.
        *source = ColourSource();
        (detail::colourOffset(geo) >= 0 ? source->ownColour : source->noColour) =
            geo.primitiveCount();
    }
    out = geo;
}

Notes readJsonGeometryFile(const std::string& path, GU_Detail& out, const ReadOptions&,
                           ColourSource* source) {
    readJsonGeometry(readWholeFile(path), path, out, source);
    return {};
}

}  // namespace hueslice::io
