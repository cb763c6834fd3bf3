#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <HOST_Internals.h>

#include "io/commit/output_batch.h"
#include "io/formats/json/json_geometry.h"
#include "io/internal.h"
#include "io/text/json_text.h"
#include "io/text/text_out.h"

namespace hueslice::io {

using detail::Json;

namespace {

// The components of an attribute as JSON, or an error for sizes JSON cannot describe.
int componentsOf(const GB_Attribute& a, const std::string& name, const char* kind) {
    if (a.size % 4 != 0 || a.size / 4 < 1 || a.size / 4 > detail::kMaxComponents) {
        throw OutputError(name + ": " + kind + " '" + a.name + "' has " + std::to_string(a.size) +
                          " bytes, which is not 1 to 64 components of 4 bytes");
    }
    return a.size / 4;
}

const char* typeName(int type) {
    return type == GB_ATTRIB_INT ? "int" : "float";
}

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

Notes stageJsonGeometry(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>&, bool) {
    // The copy shares the detail's storage, and lives as long as the batch needs it.
    batch.add(path, [copy = GU_Detail(detail), path](const TextSink& sink) {
        writeJsonGeometry(copy, path, sink);
    });
    return {};
}

}  // namespace hueslice::io
