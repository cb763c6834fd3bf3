#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "colour/colour_space.h"
#include "io/commit/output_batch.h"
#include "io/formats/gltf/gltf.h"
#include "io/internal.h"
#include "io/parts/parts.h"
#include "io/text/text_out.h"

namespace hueslice::io {

namespace {

constexpr unsigned kUnused = std::numeric_limits<unsigned>::max();
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr std::size_t kPiece = std::size_t{1} << 20;

// A material's colour as glTF stores it: RGBA, each in [0, 1], in linear light ("Cd" is sRGB).
std::array<float, 4> baseColorFactor(const float rgb[3]) {
    return {colour::linearFromSrgb(detail::unitColour(rgb[0])),
            colour::linearFromSrgb(detail::unitColour(rgb[1])),
            colour::linearFromSrgb(detail::unitColour(rgb[2])), 1.0f};
}

// A face's colour as the COLOR_0 of each of its corners, in linear light.
std::array<float, 3> vertexColour(const float rgb[3]) {
    return {colour::linearFromSrgb(detail::unitColour(rgb[0])),
            colour::linearFromSrgb(detail::unitColour(rgb[1])),
            colour::linearFromSrgb(detail::unitColour(rgb[2]))};
}

bool clampedAny(const float rgb[3]) {
    for (int c = 0; c < 3; ++c) {
        if (!(detail::unitColour(rgb[c]) == rgb[c]))
            return true;
    }
    return false;
}

// Bytes handed to a sink in large pieces.
class Pieces {
  public:
    explicit Pieces(const TextSink& target) : sink(target) { buffer.reserve(kPiece + 64); }
    void put(std::string_view bytes) {
        buffer.append(bytes);
        if (buffer.size() >= kPiece)
            flush();
    }
    void putU32(std::uint32_t value) {
        char bytes[4];
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
        put(std::string_view(bytes, 4));
    }
    void flush() {
        if (!buffer.empty())
            sink(buffer);
        buffer.clear();
    }

  private:
    const TextSink& sink;
    std::string buffer;
};

// Bytes as base64 text, for the data URI of a .gltf: three bytes at a time, whatever the pieces.
class Base64 {
  public:
    explicit Base64(Pieces& target) : out(target) {}
    void operator()(std::string_view bytes) {
        for (const char c : bytes) {
            held[count++] = static_cast<unsigned char>(c);
            if (count == 3)
                emit();
        }
    }
    void finish() {
        if (count > 0)
            emit();
    }

  private:
    void emit() {
        static const char digits[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const unsigned n =
            (held[0] << 16) | (count > 1 ? held[1] << 8 : 0) | (count > 2 ? held[2] : 0);
        char text[4] = {digits[(n >> 18) & 63], digits[(n >> 12) & 63],
                        count > 1 ? digits[(n >> 6) & 63] : '=', count > 2 ? digits[n & 63] : '='};
        out.put(std::string_view(text, 4));
        count = 0;
    }
    Pieces& out;
    unsigned char held[3] = {0, 0, 0};
    int count = 0;
};

std::string jsonString(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string floatJson(float value) {
    char digits[detail::kFloatChars];
    return std::string(digits, detail::putFloat(digits, value));
}

// What the JSON says of a part: its vertex and index counts and the bounds of its positions.
struct PartSummary {
    std::uint32_t vertices = 0;
    std::uint32_t indices = 0;  // 0 for the faces with their own colours, which are not indexed
    float low[3] = {0, 0, 0};
    float high[3] = {0, 0, 0};
};

// A glTF file written front to back: the JSON, made from a summary of each part (so that memory
// does not grow with the parts beyond a few dozen bytes each), then the buffer, made part by
// part as it is written.
class GltfPlan {
  public:
    GltfPlan(const GU_Detail& detail, const std::vector<LegendEntry>& legend, bool glb,
             const std::string& fileName)
        : geo(detail),
          name(fileName),
          binary(glb),
          plan(detail::planParts(detail, legend, fileName)) {
        summarise();
    }

    Notes& notes() { return plan.notes; }

    void write(const TextSink& sink) const {
        Pieces out(sink);
        if (!binary) {
            putJson(out);
            if (plan.parts.empty()) {
                out.flush();
                return;
            }
            out.put("data:application/octet-stream;base64,");
            Base64 text(out);
            putBuffer([&text](std::string_view bytes) { text(bytes); });
            text.finish();
            out.put("\"}]}");
            out.flush();
            return;
        }
        std::uint64_t jsonLength = 0;
        {
            const TextSink count = [&jsonLength](std::string_view t) { jsonLength += t.size(); };
            Pieces counter(count);
            putJson(counter);
            counter.flush();
        }
        const std::uint64_t padded = (jsonLength + 3) / 4 * 4;
        const std::uint64_t bin = bufferLength();
        const std::uint64_t total = 12 + 8 + padded + (bin > 0 ? 8 + bin : 0);
        if (total > 0xFFFFFFFFull)
            throw OutputError(name + ": more than 4 GiB, which glb cannot hold");
        out.put("glTF");
        out.putU32(2);
        out.putU32(static_cast<std::uint32_t>(total));
        out.putU32(static_cast<std::uint32_t>(padded));
        out.put("JSON");
        putJson(out);
        out.put(std::string(padded - jsonLength, ' '));
        if (bin > 0) {
            out.putU32(static_cast<std::uint32_t>(bin));
            out.put(std::string_view("BIN\0", 4));
            putBuffer([&out](std::string_view bytes) { out.put(bytes); });
        }
        out.flush();
    }

  private:
    bool ownColours(const detail::Part& part) const {
        return part.name.empty() && plan.colourOffset >= 0;
    }

    // Calls visit(point, 0) for each point of `part` once, in order of first use, numbering them
    // in `local` (the caller clears them), and visit(kUnused, corners) after each face.
    template <typename Visit>
    void forEachPoint(const detail::Part& part, std::vector<unsigned>& local,
                      std::vector<unsigned>& order, Visit&& visit) const {
        order.clear();
        detail::forEachFace(geo, part, [&](unsigned, const unsigned* v, unsigned count) {
            for (unsigned k = 0; k < count; ++k) {
                if (local[v[k]] == kUnused) {
                    local[v[k]] = static_cast<unsigned>(order.size());
                    order.push_back(v[k]);
                    visit(v[k], 0u);
                }
            }
            visit(kUnused, count);
        });
    }

    // Calls visit(a, b, c) with the corners of each triangle of `part` (fans for polygons).
    template <typename Visit>
    void forEachTriangle(const detail::Part& part, Visit&& visit) const {
        detail::forEachFace(geo, part, [&](unsigned face, const unsigned* v, unsigned count) {
            for (unsigned k = 2; k < count; ++k)
                visit(face, v[0], v[k - 1], v[k]);
        });
    }

    void summarise() {
        std::vector<unsigned> local(static_cast<std::size_t>(geo.pointCount()), kUnused);
        std::vector<unsigned> order;
        bool clamped = false;
        summaries.resize(plan.parts.size());
        for (std::size_t p = 0; p < plan.parts.size(); ++p) {
            const detail::Part& part = plan.parts[p];
            PartSummary& s = summaries[p];
            std::fill(s.low, s.low + 3, std::numeric_limits<float>::infinity());
            std::fill(s.high, s.high + 3, -std::numeric_limits<float>::infinity());
            const auto bound = [&](unsigned point) {
                const UT_Vector3& at = geo.points()[point];
                for (int c = 0; c < 3; ++c) {
                    if (!std::isfinite(at[c])) {
                        throw OutputError(name + ": point " + std::to_string(point) +
                                          " is not a finite position, which glTF cannot carry");
                    }
                    s.low[c] = std::min(s.low[c], at[c]);
                    s.high[c] = std::max(s.high[c], at[c]);
                }
            };
            unsigned long long count = 0;
            if (ownColours(part)) {
                forEachTriangle(part, [&](unsigned face, unsigned a, unsigned b, unsigned c) {
                    float rgb[3];
                    detail::faceColour(geo, face, plan.colourOffset, rgb);
                    clamped = clamped || clampedAny(rgb);
                    bound(a);
                    bound(b);
                    bound(c);
                    count += 3;
                });
                s.vertices = fits(count);
            } else {
                clamped = clamped || clampedAny(part.colour);
                forEachPoint(part, local, order, [&](unsigned point, unsigned corners) {
                    if (point != kUnused)
                        bound(point);
                    else
                        count += 3ull * (corners - 2);
                });
                for (unsigned point : order)
                    local[point] = kUnused;
                s.vertices = fits(order.size());
                s.indices = fits(count);
            }
        }
        if (clamped)
            plan.notes.push_back(name + ": colours outside [0, 1] written clamped");
    }

    std::uint32_t fits(unsigned long long count) const {
        if (count > 0x3FFFFFFFull)
            throw OutputError(name + ": a part with more corners than glTF can index");
        return static_cast<std::uint32_t>(count);
    }

    // The lengths of a part's two views: positions, then indices or corner colours.
    static std::uint64_t firstView(const PartSummary& s) { return 12ull * s.vertices; }
    static std::uint64_t secondView(const PartSummary& s) {
        return s.indices > 0 ? 4ull * s.indices : 12ull * s.vertices;
    }
    std::uint64_t bufferLength() const {
        std::uint64_t total = 0;
        for (const PartSummary& s : summaries)
            total += firstView(s) + secondView(s);
        return total;
    }

    // The JSON up to the buffer's byte length; a .glb's closes it, a .gltf's goes on with its
    // data URI.
    void putJson(Pieces& out) const {
        const std::size_t parts = plan.parts.size();
        out.put(R"({"asset":{"version":"2.0","generator":"hueslice"})");
        if (parts > 0) {
            out.put(R"(,"scene":0,"scenes":[{"nodes":[)");
            for (std::size_t p = 0; p < parts; ++p)
                out.put((p ? "," : "") + std::to_string(p));
            out.put("]}]");
        }
        const auto list = [&](const char* key, auto&& item) {
            if (parts == 0)
                return;
            out.put(std::string(",\"") + key + "\":[");
            for (std::size_t p = 0; p < parts; ++p) {
                if (p)
                    out.put(",");
                item(p);
            }
            out.put("]");
        };
        const auto named = [&](const std::string& n) {
            return n.empty() ? std::string() : "\"name\":" + jsonString(n) + ",";
        };
        list("nodes", [&](std::size_t p) {
            out.put("{" + named(plan.parts[p].name) + "\"mesh\":" + std::to_string(p) + "}");
        });
        list("meshes", [&](std::size_t p) {
            const std::string second = std::to_string(2 * p + 1);
            out.put("{" + named(plan.parts[p].name) +
                    R"("primitives":[{"attributes":{"POSITION":)" + std::to_string(2 * p) +
                    (summaries[p].indices > 0 ? "},\"indices\":" + second
                                              : ",\"COLOR_0\":" + second + "}") +
                    ",\"material\":" + std::to_string(p) + ",\"mode\":4}]}");
        });
        list("materials", [&](std::size_t p) {
            const detail::Part& part = plan.parts[p];
            const float white[3] = {1.0f, 1.0f, 1.0f};
            const std::array<float, 4> factor =
                baseColorFactor(ownColours(part) ? white : part.colour);
            out.put("{\"name\":" + jsonString(part.name.empty() ? "ungrouped" : part.name) +
                    R"(,"pbrMetallicRoughness":{"baseColorFactor":[)" + floatJson(factor[0]) + "," +
                    floatJson(factor[1]) + "," + floatJson(factor[2]) + "," + floatJson(factor[3]) +
                    R"(],"metallicFactor":0},"doubleSided":true})");
        });
        list("accessors", [&](std::size_t p) {
            const PartSummary& s = summaries[p];
            std::string bounds = "\"min\":[";
            for (int c = 0; c < 3; ++c)
                bounds += (c ? "," : "") + floatJson(s.low[c]);
            bounds += "],\"max\":[";
            for (int c = 0; c < 3; ++c)
                bounds += (c ? "," : "") + floatJson(s.high[c]);
            out.put("{\"bufferView\":" + std::to_string(2 * p) +
                    R"(,"componentType":5126,"type":"VEC3","count":)" + std::to_string(s.vertices) +
                    "," + bounds + "]},");
            if (s.indices > 0) {
                out.put("{\"bufferView\":" + std::to_string(2 * p + 1) +
                        R"(,"componentType":5125,"type":"SCALAR","count":)" +
                        std::to_string(s.indices) + "}");
            } else {
                out.put("{\"bufferView\":" + std::to_string(2 * p + 1) +
                        R"(,"componentType":5126,"type":"VEC3","count":)" +
                        std::to_string(s.vertices) + "}");
            }
        });
        std::uint64_t offset = 0;
        list("bufferViews", [&](std::size_t p) {
            const PartSummary& s = summaries[p];
            const auto view = [&](std::uint64_t length, int target) {
                out.put(R"({"buffer":0,"byteOffset":)" + std::to_string(offset) +
                        ",\"byteLength\":" + std::to_string(length) +
                        ",\"target\":" + std::to_string(target) + "}");
                offset += length;
            };
            view(firstView(s), kArrayBuffer);
            out.put(",");
            view(secondView(s), s.indices > 0 ? kElementArrayBuffer : kArrayBuffer);
        });
        if (parts == 0) {
            out.put("}");
            return;
        }
        out.put(",\"buffers\":[{\"byteLength\":" + std::to_string(bufferLength()));
        if (binary)
            out.put("}]}");
        else
            out.put(",\"uri\":\"");
    }

    // The buffer, part by part: positions, then indices or corner colours.
    template <typename Put>
    void putBuffer(Put&& put) const {
        std::vector<unsigned> local(static_cast<std::size_t>(geo.pointCount()), kUnused);
        std::vector<unsigned> order;
        std::vector<float> floats;
        std::vector<std::uint32_t> indices;
        const auto drain = [&](bool always) {
            if (!floats.empty() && (always || floats.size() >= kPiece / 4)) {
                put(std::string_view(reinterpret_cast<const char*>(floats.data()),
                                     floats.size() * sizeof(float)));
                floats.clear();
            }
            if (!indices.empty() && (always || indices.size() >= kPiece / 4)) {
                put(std::string_view(reinterpret_cast<const char*>(indices.data()),
                                     indices.size() * sizeof(std::uint32_t)));
                indices.clear();
            }
        };
        const auto position = [&](unsigned point) {
            const UT_Vector3& at = geo.points()[point];
            floats.insert(floats.end(), {at.x(), at.y(), at.z()});
            drain(false);
        };
        unsigned long long done = 0;
        for (const detail::Part& part : plan.parts) {
            if (ownColours(part)) {
                forEachTriangle(part, [&](unsigned, unsigned a, unsigned b, unsigned c) {
                    position(a);
                    position(b);
                    position(c);
                });
                drain(true);
                forEachTriangle(part, [&](unsigned face, unsigned, unsigned, unsigned) {
                    float rgb[3];
                    detail::faceColour(geo, face, plan.colourOffset, rgb);
                    const std::array<float, 3> colour = vertexColour(rgb);
                    for (int k = 0; k < 3; ++k)
                        floats.insert(floats.end(), colour.begin(), colour.end());
                    drain(false);
                });
            } else {
                forEachPoint(part, local, order, [&](unsigned point, unsigned) {
                    if (point != kUnused)
                        position(point);
                });
                drain(true);
                forEachTriangle(part, [&](unsigned, unsigned a, unsigned b, unsigned c) {
                    indices.insert(indices.end(), {local[a], local[b], local[c]});
                    drain(false);
                });
                for (unsigned point : order)
                    local[point] = kUnused;
            }
            drain(true);
            done += part.faces.size();
            detail::reportProgress(done, static_cast<unsigned long long>(geo.primitiveCount()));
        }
    }

    // A copy: the file may be written after the caller's detail is gone. It shares the
    // caller's storage rather than copying it.
    const GU_Detail geo;
    const std::string name;
    const bool binary;
    detail::PartPlan plan;
    std::vector<PartSummary> summaries;
};

}  // namespace

WrittenFile writeGltf(const GU_Detail& geo, const std::vector<LegendEntry>& legend, bool binary,
                      const std::string& name) {
    GltfPlan plan(geo, legend, binary, name);
    WrittenFile result;
    plan.write([&result](std::string_view piece) { result.bytes.append(piece); });
    result.notes = std::move(plan.notes());
    return result;
}

namespace {

Notes stage(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
            const std::vector<LegendEntry>& legend, bool binary) {
    auto plan = std::make_shared<GltfPlan>(detail, legend, binary, path);
    Notes notes = std::move(plan->notes());
    batch.add(path, [plan](const TextSink& sink) { plan->write(sink); });
    return notes;
}

}  // namespace

Notes stageGltf(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                const std::vector<LegendEntry>& legend, bool) {
    return stage(batch, path, detail, legend, false);
}

Notes stageGlb(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool) {
    return stage(batch, path, detail, legend, true);
}

}  // namespace hueslice::io
