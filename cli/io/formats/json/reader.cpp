#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <HOST_Internals.h>

#include "io/internal.h"
#include "io/io.h"
#include "io/text/json_text.h"
#include "io/text/text_out.h"

namespace hueslice::io {

using detail::describe;
using detail::fail;
using detail::Json;

namespace {

constexpr int kMaxComponents = 64;
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

// The components of an attribute as JSON, or an error for sizes JSON cannot describe.
int componentsOf(const GB_Attribute& a, const std::string& name, const char* kind) {
    if (a.size % 4 != 0 || a.size / 4 < 1 || a.size / 4 > kMaxComponents) {
        throw OutputError(name + ": " + kind + " '" + a.name + "' has " + std::to_string(a.size) +
                          " bytes, which is not 1 to 64 components of 4 bytes");
    }
    return a.size / 4;
}

const char* typeName(int type) {
    return type == GB_ATTRIB_INT ? "int" : "float";
}

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

namespace {

// The text nlohmann gives floatToJson(value), remembered for recently seen values: meshes repeat
// coordinates and colours a lot, and working it out takes three conversions.
class JsonFloats {
  public:
    JsonFloats() : slots(kSlots) {}

    std::string_view text(float value) {
        if (!std::isfinite(value))
            return std::isnan(value) ? "\"nan\"" : value > 0 ? "\"inf\"" : "\"-inf\"";
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        Slot& slot = slots[(bits * 2654435761u) >> (32 - kSlotBits)];
        if (!slot.used || slot.bits != bits) {
            const double asDouble = detail::floatToJson(value).get<double>();
            char* end =
                nlohmann::detail::to_chars(slot.text, slot.text + sizeof slot.text, asDouble);
            slot.length = static_cast<unsigned char>(end - slot.text);
            slot.bits = bits;
            slot.used = true;
        }
        return std::string_view(slot.text, slot.length);
    }

  private:
    static constexpr int kSlotBits = 14;
    static constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
    struct Slot {
        std::uint32_t bits = 0;
        bool used = false;
        unsigned char length = 0;
        char text[58] = {};
    };
    std::vector<Slot> slots;
};

// Writes the geometry in the layout nlohmann's dump of the document gives, one top-level key per
// line and one element of each top-level array per line (readable, and messages about an
// element can name its line), without building the document.
class JsonWriter {
  public:
    JsonWriter(const GU_Detail& detail, const std::string& fileName, const TextSink& sink)
        : geo(detail), name(fileName), out(sink) {}

    void write() {
        // Everything that can fail is checked before the first byte goes out.
        std::vector<std::string> primKeys, detailKeys, groupKeys;
        std::vector<int> primComponents, detailComponents;
        for (const GB_Attribute& a : geo.primitiveAttribs().attributes())
            primComponents.push_back(componentsOf(a, name, "primitive attribute"));
        for (const GB_Attribute& a : geo.detailAttribs().attributes())
            detailComponents.push_back(componentsOf(a, name, "detail attribute"));
        try {
            for (const GB_Attribute& a : geo.primitiveAttribs().attributes())
                primKeys.push_back(Json(a.name).dump());
            for (const GB_Attribute& a : geo.detailAttribs().attributes())
                detailKeys.push_back(Json(a.name).dump());
            for (const GB_PrimitiveGroup* g : geo.primitiveGroups().groups())
                groupKeys.push_back(Json(g->getName()).dump());
        } catch (const nlohmann::json::type_error&) {
            throw OutputError(name + ": a name is not valid UTF-8 text, which JSON cannot carry");
        }
        const GB_PrimitiveList& list = geo.primitives();
        const auto prims = static_cast<unsigned long long>(list.entries());
        const std::size_t attribs = primKeys.size();
        // Points, primitives and each attribute's values weigh about the same per element.
        const unsigned long long total = (geo.points().size() + prims * (1 + attribs)) | 1;
        unsigned long long done = 0;

        out.put("{\n  \"points\": ");
        const std::vector<UT_Vector3>& points = geo.points();
        openArray(points.empty());
        for (std::size_t i = 0; i < points.size(); ++i) {
            out.put("    [");
            for (int c = 0; c < 3; ++c) {
                if (c > 0)
                    out.put(',');
                out.put(floats.text(points[i][c]));
            }
            out.put(i + 1 < points.size() ? "],\n" : "]\n");
            step(++done, total);
        }
        closeArray(points.empty(), true);

        out.put("  \"primitives\": ");
        openArray(prims == 0);
        for (unsigned long long i = 0; i < prims; ++i) {
            out.put("    [");
            if (const GB_Primitive* prim = list(static_cast<long long>(i))) {
                const unsigned* vertices = geo.primitiveVertices(*prim);
                for (unsigned v = 0; v < prim->vertexCount; ++v) {
                    if (v > 0)
                        out.put(',');
                    out.putNumber(static_cast<unsigned long long>(vertices[v]));
                }
            }
            out.put(i + 1 < prims ? "],\n" : "]\n");
            step(++done, total);
        }
        closeArray(prims == 0, true);

        out.put("  \"primitive_attributes\": ");
        openObject(attribs == 0);
        for (std::size_t k = 0; k < attribs; ++k) {
            const GB_Attribute& a = geo.primitiveAttribs().attributes()[k];
            attributeHead(primKeys[k], a, primComponents[k], "values");
            out.put('[');
            for (unsigned long long i = 0; i < prims; ++i) {
                if (i > 0)
                    out.put(',');
                tuple(geo.primitiveAttribData(static_cast<long long>(i)), a, primComponents[k]);
                step(++done, total);
            }
            out.put(k + 1 < attribs ? "]},\n" : "]}\n");
        }
        closeObject(attribs == 0, true);

        out.put("  \"detail_attributes\": ");
        openObject(detailKeys.empty());
        for (std::size_t k = 0; k < detailKeys.size(); ++k) {
            const GB_Attribute& a = geo.detailAttribs().attributes()[k];
            attributeHead(detailKeys[k], a, detailComponents[k], "value");
            tuple(geo.detailAttribData(), a, detailComponents[k]);
            out.put(k + 1 < detailKeys.size() ? "},\n" : "}\n");
        }
        closeObject(detailKeys.empty(), true);

        out.put("  \"primitive_groups\": ");
        const std::vector<GB_PrimitiveGroup*> groups = geo.primitiveGroups().groups();
        openObject(groups.empty());
        for (std::size_t k = 0; k < groups.size(); ++k) {
            out.put("    ");
            out.put(groupKeys[k]);
            out.put(": [");
            const std::vector<unsigned> members = groups[k]->members();
            for (std::size_t m = 0; m < members.size(); ++m) {
                if (m > 0)
                    out.put(',');
                out.putNumber(static_cast<unsigned long long>(members[m]));
            }
            out.put(k + 1 < groups.size() ? "],\n" : "]\n");
        }
        closeObject(groups.empty(), false);
        out.put("}\n");
        out.flush();
    }

  private:
    void openArray(bool empty) { out.put(empty ? "[]" : "[\n"); }
    void closeArray(bool empty, bool more) {
        if (!empty)
            out.put("  ]");
        out.put(more ? ",\n" : "\n");
    }
    void openObject(bool empty) { out.put(empty ? "{}" : "{\n"); }
    void closeObject(bool empty, bool more) {
        if (!empty)
            out.put("  }");
        out.put(more ? ",\n" : "\n");
    }

    void attributeHead(const std::string& key, const GB_Attribute& a, int components,
                       const char* valueKey) {
        out.put("    ");
        out.put(key);
        out.put(": {\"type\":\"");
        out.put(typeName(a.type));
        out.put("\",\"size\":");
        out.putNumber(static_cast<long long>(components));
        out.put(",\"");
        out.put(valueKey);
        out.put("\":");
    }

    void tuple(const unsigned char* record, const GB_Attribute& a, int components) {
        out.put('[');
        for (int c = 0; c < components; ++c) {
            if (c > 0)
                out.put(',');
            const unsigned char* at = record + a.offset + 4 * c;
            if (a.type == GB_ATTRIB_FLOAT) {
                float f = 0.0f;
                std::memcpy(&f, at, sizeof f);
                out.put(floats.text(f));
            } else {
                std::int32_t i = 0;
                std::memcpy(&i, at, sizeof i);
                out.putNumber(static_cast<long long>(i));
            }
        }
        out.put(']');
    }

    static void step(unsigned long long done, unsigned long long total) {
        if (done % detail::kProgressStep == 0)
            detail::reportProgress(done, total);
    }

    const GU_Detail& geo;
    const std::string& name;
    detail::TextOut out;
    JsonFloats floats;
};

}  // namespace

void writeJsonGeometry(const GU_Detail& geo, const std::string& name, const TextSink& sink) {
    JsonWriter(geo, name, sink).write();
}

std::string writeJsonGeometry(const GU_Detail& geo, const std::string& name) {
    std::string text;
    writeJsonGeometry(geo, name, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

}  // namespace hueslice::io
