#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/commit/output_batch.h"
#include "io/formats/3mf/3mf.h"
#include "io/formats/3mf/zip_writer.h"
#include "io/internal.h"
#include "io/parts/parts.h"
#include "io/text/text_chunks.h"

namespace hueslice::io {

namespace {

using detail::TextBuffer;

constexpr unsigned kUnused = std::numeric_limits<unsigned>::max();
constexpr unsigned kMaterialsId = 1;
// The longest line of each kind, for the bound on the model's size.
constexpr std::uint64_t kCoordinateChars = 24;
constexpr std::uint64_t kVertexChars = 32 + 3 * kCoordinateChars;
constexpr std::uint64_t kTriangleChars = 64 + 4 * 10;
constexpr std::uint64_t kLineChars = 128;  // any other line, names aside

constexpr std::string_view kContentTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">\n"
    "\t<Default Extension=\"model\" "
    "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\" />\n"
    "\t<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\" />\n"
    "</Types>\n";
constexpr std::string_view kRelationships =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">\n"
    "\t<Relationship Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\" "
    "Target=\"/3D/3dmodel.model\" Id=\"rel0\" />\n"
    "</Relationships>\n";

char* put(char* at, std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

char* putNumber(char* at, unsigned long long value) {
    return detail::putNumber(at, value);
}

// A coordinate cut (not rounded) to six decimals, trailing zeros dropped, as this writer has
// always given them. Floats from 2^23 up are whole numbers, written whole (with an exponent
// from 10^15 up, where the digits would run long).
char* putCoordinate(char* at, float value) {
    if (!(std::fabs(value) < 8388608.0f)) {
        const auto format =
            std::fabs(value) < 1e15f ? std::chars_format::fixed : std::chars_format::scientific;
        return std::to_chars(at, at + kCoordinateChars, value, format).ptr;
    }
    const auto micro = static_cast<long long>(static_cast<double>(value) * 1e6);
    if (micro == 0) {
        *at++ = '0';
        return at;
    }
    if (micro < 0)
        *at++ = '-';
    const unsigned long long magnitude =
        static_cast<unsigned long long>(micro < 0 ? -micro : micro);
    at = putNumber(at, magnitude / 1000000);
    unsigned long long fraction = magnitude % 1000000;
    if (fraction == 0)
        return at;
    int digits = 6;
    while (fraction % 10 == 0) {
        fraction /= 10;
        --digits;
    }
    *at++ = '.';
    char text[6];
    for (int i = digits - 1; i >= 0; --i) {
        text[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    return put(at, std::string_view(text, static_cast<std::size_t>(digits)));
}

std::uint32_t colourKey(const float rgb[3]) {
    return (std::uint32_t{detail::colourByte(rgb[0])} << 16) |
           (std::uint32_t{detail::colourByte(rgb[1])} << 8) | detail::colourByte(rgb[2]);
}

char* putColour(char* at, std::uint32_t key, bool alpha) {
    char text[10];
    std::snprintf(text, sizeof text, alpha ? "#%06XFF" : "#%06X", static_cast<unsigned>(key));
    return put(at, text);
}

// The model XML of a part plan, made in chunks of lines on the text writer's threads and
// deflated there. The document is a row of sections (the materials, one per part, the
// assembly), each a row of items of about one line; a chunk is a run of items, and a chunk
// that starts among a part's triangles starts from the corner offset noted for it. Vertex and
// triangle lines, nearly all of the model, are as short as XML allows (no indent): the model is
// most of a package's cost.
class ModelPlan {
  public:
    ModelPlan(const GU_Detail& detail, const std::vector<LegendEntry>& legend,
              const std::string& fileName)
        : geo(detail), name(fileName), plan(detail::planParts(detail, legend, fileName)) {
        if (plan.parts.empty())
            throw OutputError(name + ": there is no visible triangle to write");
        lines = std::max<std::size_t>(1, detail::chunkShape().linesPerChunk);
        escapeNames();
        numberPoints();
        chooseMaterials();
        layOut();
    }

    Notes& notes() { return plan.notes; }

    void write(const TextSink& sink) const {
        detail::ZipWriter zip(sink);
        zip.beginEntry("3D/3dmodel.model", bound + bound / 256 + 64 * chunks + 1024);
        std::vector<detail::PieceSum> sums(chunks);
        std::size_t next = 0;
        detail::writeChunks(
            chunks,
            [&](std::size_t chunk, TextBuffer& out) {
                thread_local TextBuffer text;
                text.clear();
                formatChunk(chunk, text);
                sums[chunk] = detail::deflatePiece(text.text(), chunk + 1 == chunks, out);
            },
            [&](std::string_view deflated) { zip.addPiece(deflated, sums[next]); },
            [&](std::size_t chunk) {
                next = chunk + 1;
                detail::reportProgress(next, chunks);
            });
        zip.endEntry();
        zip.addEntry("[Content_Types].xml", kContentTypes);
        zip.addEntry("_rels/.rels", kRelationships);
        zip.finish();
    }

  private:
    struct Span {
        std::size_t pointStart = 0;   // in localPoints
        std::size_t cornerStart = 0;  // in corners
        unsigned entry = 0;           // the default property's material entry
    };

    std::size_t partCount() const { return plan.parts.size(); }
    bool ownColours(const detail::Part& part) const {
        return part.name.empty() && plan.colourOffset >= 0;
    }
    std::size_t pointsOf(std::size_t p) const {
        const std::size_t end = p + 1 < partCount() ? spans[p + 1].pointStart : localPoints.size();
        return end - spans[p].pointStart;
    }

    void escapeNames() {
        for (detail::Part& part : plan.parts) {
            bool changed = false;
            std::string escaped = detail::escapeXml(part.name, changed);
            if (changed) {
                plan.notes.push_back(name + ": group '" + printable(part.name) +
                                     "' named with U+FFFD for what XML cannot hold");
            }
            part.name = std::move(escaped);
        }
        std::string stem = name.substr(name.find_last_of('/') + 1);
        stem = stem.substr(0, stem.find_last_of('.'));
        bool changed = false;
        modelName = detail::escapeXml(stem, changed);
    }

    // Gives each part's points numbers of its own, in order of first use, and each corner the
    // number of its point. Positions are checked as they are written, where they are read
    // anyway.
    void numberPoints() {
        std::vector<unsigned> local(static_cast<std::size_t>(geo.pointCount()), kUnused);
        spans.resize(partCount());
        // Sized once: growing by doubling would hold two copies of the largest array at once.
        std::size_t cornerCount = 0;
        for (const detail::Part& part : plan.parts) {
            detail::forEachFace(geo, part, [&](unsigned, const unsigned*, unsigned count) {
                cornerCount += count;
            });
        }
        corners.reserve(cornerCount);
        for (std::size_t p = 0; p < partCount(); ++p) {
            Span& span = spans[p];
            span.pointStart = localPoints.size();
            span.cornerStart = corners.size();
            detail::forEachFace(
                geo, plan.parts[p], [&](unsigned, const unsigned* v, unsigned count) {
                    for (unsigned k = 0; k < count; ++k) {
                        unsigned& slot = local[v[k]];
                        if (slot == kUnused) {
                            slot = static_cast<unsigned>(localPoints.size() - span.pointStart);
                            localPoints.push_back(v[k]);
                        }
                        corners.push_back(slot);
                    }
                    triangles += count - 2;
                });
            // Only the slots this part took are cleared: every part costs its own size.
            for (std::size_t i = span.pointStart; i < localPoints.size(); ++i)
                local[localPoints[i]] = kUnused;
        }
    }

    void checkFinite(unsigned point) const {
        const UT_Vector3& p = geo.points()[point];
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z())) {
            throw OutputError(name + ": point " + std::to_string(point) +
                              " is not a finite position, which 3MF cannot carry");
        }
    }

    // One entry per part, then, for the faces in no group, one per distinct colour in the order
    // of their triangles.
    void chooseMaterials() {
        for (std::size_t p = 0; p < partCount(); ++p) {
            const detail::Part& part = plan.parts[p];
            if (!ownColours(part)) {
                spans[p].entry = static_cast<unsigned>(partEntries++);
                continue;
            }
            for (unsigned face : part.faces) {
                float rgb[3];
                detail::faceColour(geo, face, plan.colourOffset, rgb);
                const std::uint32_t key = colourKey(rgb);
                if (entryOfColour.emplace(key, kUnused).second) {
                    entryOfColour[key] = static_cast<unsigned>(colourEntries.size());
                    colourEntries.push_back(key);
                }
            }
            spans[p].entry = entryOf(part.faces.front());
        }
    }

    unsigned entryOf(unsigned face) const {
        float rgb[3];
        detail::faceColour(geo, face, plan.colourOffset, rgb);
        return static_cast<unsigned>(partEntries) + entryOfColour.find(colourKey(rgb))->second;
    }

    // Items of each section: materials (opening, entries, closing), each part (opening, points,
    // the turn to triangles, faces, closing), the assembly (opening, components, the rest).
    void layOut() {
        sectionStart.reserve(partCount() + 3);
        std::uint64_t items = 0;
        const auto add = [&](std::uint64_t count) {
            sectionStart.push_back(items);
            items += count;
        };
        std::uint64_t names = modelName.size();
        add(2 + partEntries + colourEntries.size());
        for (std::size_t p = 0; p < partCount(); ++p) {
            add(3 + pointsOf(p) + plan.parts[p].faces.size());
            names += 2 * plan.parts[p].name.size();
        }
        add(2 + partCount());
        sectionStart.push_back(items);
        chunks = static_cast<std::size_t>((items + lines - 1) / lines);
        // Where each chunk that starts among a part's faces finds its corners.
        chunkCorner.assign(chunks, 0);
        for (std::size_t p = 0; p < partCount(); ++p) {
            const std::uint64_t firstFace = sectionStart[p + 1] + 2 + pointsOf(p);
            std::uint64_t chunk = (firstFace + lines - 1) / lines;
            std::size_t corner = spans[p].cornerStart;
            std::uint64_t item = firstFace;
            detail::forEachFace(geo, plan.parts[p], [&](unsigned, const unsigned*, unsigned count) {
                if (item == chunk * lines) {
                    chunkCorner[chunk] = corner;
                    ++chunk;
                }
                corner += count;
                ++item;
            });
        }
        bound = kLineChars * (items - localPoints.size()) + kVertexChars * localPoints.size() +
                kTriangleChars * triangles + names;
    }

    void formatChunk(std::size_t chunk, TextBuffer& out) const {
        const std::uint64_t begin = std::uint64_t{chunk} * lines;
        const std::uint64_t end = std::min(begin + lines, sectionStart.back());
        auto section = static_cast<std::size_t>(
            std::upper_bound(sectionStart.begin(), sectionStart.end(), begin) -
            sectionStart.begin() - 1);
        for (std::uint64_t at = begin; at < end; ++section) {
            const std::uint64_t stop = std::min(end, sectionStart[section + 1]);
            const std::uint64_t from = at - sectionStart[section];
            const std::uint64_t to = stop - sectionStart[section];
            if (section == 0)
                formatMaterials(from, to, out);
            else if (section <= partCount())
                formatPart(section - 1, from, to, chunkCorner[chunk], out);
            else
                formatAssembly(from, to, out);
            at = stop;
        }
    }

    void formatMaterials(std::uint64_t from, std::uint64_t to, TextBuffer& out) const {
        const std::uint64_t last = 1 + partEntries + colourEntries.size();
        for (std::uint64_t item = from; item < to; ++item) {
            if (item == 0) {
                char* at = out.room(400);
                at = put(at,
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model "
                         "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\" "
                         "unit=\"millimeter\" xml:lang=\"en-US\">\n\t<resources>\n"
                         "\t\t<basematerials id=\"1\">\n");
                out.advance(at);
            } else if (item == last) {
                char* at = out.room(32);
                out.advance(put(at, "\t\t</basematerials>\n"));
            } else {
                formatEntry(item - 1, out);
            }
        }
    }

    void formatEntry(std::uint64_t entry, TextBuffer& out) const {
        std::string_view entryName;
        std::uint32_t key = 0;
        char colourName[8];
        if (entry < partEntries) {
            // Parts with one entry are all the parts but the one with faces' own colours,
            // which comes last, so entries and parts share their numbers.
            const detail::Part& part = plan.parts[entry];
            entryName = part.name.empty() ? std::string_view("ungrouped") : part.name;
            key = colourKey(part.colour);
        } else {
            key = colourEntries[entry - partEntries];
            std::snprintf(colourName, sizeof colourName, "#%06X", static_cast<unsigned>(key));
            entryName = colourName;
        }
        char* at = out.room(entryName.size() + kLineChars);
        at = put(at, "\t\t\t<base name=\"");
        at = put(at, entryName);
        at = put(at, "\" displaycolor=\"");
        at = putColour(at, key, true);
        out.advance(put(at, "\" />\n"));
    }

    void formatPart(std::size_t p, std::uint64_t from, std::uint64_t to, std::size_t chunkStart,
                    TextBuffer& out) const {
        const detail::Part& part = plan.parts[p];
        const Span& span = spans[p];
        const std::uint64_t points = pointsOf(p);
        const std::uint64_t firstFace = 2 + points;
        const std::uint64_t last = firstFace + part.faces.size();
        std::size_t corner = from > firstFace ? chunkStart : span.cornerStart;
        const bool own = ownColours(part);
        for (std::uint64_t item = from; item < to; ++item) {
            if (item == 0) {
                char* at = out.room(part.name.size() + kLineChars);
                at = put(at, "\t\t<object id=\"");
                at = putNumber(at, p + 2);
                if (!part.name.empty()) {
                    at = put(at, "\" name=\"");
                    at = put(at, part.name);
                }
                at = put(at, "\" type=\"model\" pid=\"1\" pindex=\"");
                at = putNumber(at, span.entry);
                out.advance(put(at, "\">\n\t\t\t<mesh>\n\t\t\t\t<vertices>\n"));
            } else if (item <= points) {
                const unsigned point = localPoints[span.pointStart + item - 1];
                checkFinite(point);
                const UT_Vector3& v = geo.points()[point];
                char* at = out.room(kVertexChars);
                at = put(at, "<vertex x=\"");
                at = putCoordinate(at, v.x());
                at = put(at, "\" y=\"");
                at = putCoordinate(at, v.y());
                at = put(at, "\" z=\"");
                at = putCoordinate(at, v.z());
                out.advance(put(at, "\"/>\n"));
            } else if (item == points + 1) {
                char* at = out.room(kLineChars);
                out.advance(put(at, "\t\t\t\t</vertices>\n\t\t\t\t<triangles>\n"));
            } else if (item < last) {
                const unsigned face = part.faces[item - firstFace];
                const GB_Primitive& prim = *geo.primitives()(face);
                const unsigned entry = own ? entryOf(face) : 0;
                for (unsigned k = 2; k < prim.vertexCount; ++k) {
                    char* at = out.room(kTriangleChars);
                    at = put(at, "<triangle v1=\"");
                    at = putNumber(at, corners[corner]);
                    at = put(at, "\" v2=\"");
                    at = putNumber(at, corners[corner + k - 1]);
                    at = put(at, "\" v3=\"");
                    at = putNumber(at, corners[corner + k]);
                    if (own) {
                        at = put(at, "\" pid=\"1\" p1=\"");
                        at = putNumber(at, entry);
                    }
                    out.advance(put(at, "\"/>\n"));
                }
                corner += prim.vertexCount;
            } else {
                char* at = out.room(kLineChars);
                out.advance(put(at, "\t\t\t\t</triangles>\n\t\t\t</mesh>\n\t\t</object>\n"));
            }
        }
    }

    void formatAssembly(std::uint64_t from, std::uint64_t to, TextBuffer& out) const {
        const std::size_t assembly = partCount() + 2;
        for (std::uint64_t item = from; item < to; ++item) {
            char* at = out.room(modelName.size() + 2 * kLineChars);
            if (item == 0) {
                at = put(at, "\t\t<object id=\"");
                at = putNumber(at, assembly);
                if (!modelName.empty()) {
                    at = put(at, "\" name=\"");
                    at = put(at, modelName);
                }
                at = put(at, "\" type=\"model\">\n\t\t\t<components>\n");
            } else if (item <= partCount()) {
                at = put(at, "\t\t\t\t<component objectid=\"");
                at = putNumber(at, item + 1);
                at = put(at, "\" />\n");
            } else {
                at = put(at,
                         "\t\t\t</components>\n\t\t</object>\n\t</resources>\n\t<build>\n"
                         "\t\t<item objectid=\"");
                at = putNumber(at, assembly);
                at = put(at, "\" />\n\t</build>\n</model>\n");
            }
            out.advance(at);
        }
    }

    // A copy: the package may be written after the caller's detail is gone. It shares the
    // caller's storage rather than copying it.
    const GU_Detail geo;
    const std::string name;
    detail::PartPlan plan;
    std::string modelName;              // the assembly's name: the file's stem
    std::size_t lines = 1;              // items per chunk
    std::vector<Span> spans;            // per part
    std::vector<unsigned> localPoints;  // per part, its points in order of first use
    std::vector<unsigned> corners;      // per part, per face, its corners' local numbers
    unsigned long long triangles = 0;
    std::size_t partEntries = 0;               // material entries that are parts' own
    std::vector<std::uint32_t> colourEntries;  // then the faces' own colours, 0xRRGGBB
    std::unordered_map<std::uint32_t, unsigned> entryOfColour;  // into colourEntries
    std::vector<std::uint64_t> sectionStart;  // first item of each section, then the total
    std::vector<std::size_t> chunkCorner;     // per chunk starting among faces, its corner
    std::size_t chunks = 0;
    std::uint64_t bound = 0;  // at least the model's length
};

}  // namespace

WrittenFile write3mf(const GU_Detail& geo, const std::vector<LegendEntry>& legend,
                     const std::string& name) {
    ModelPlan plan(geo, legend, name);
    WrittenFile result;
    plan.write([&result](std::string_view piece) { result.bytes.append(piece); });
    result.notes = std::move(plan.notes());
    return result;
}

Notes stage3mf(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool) {
    auto plan = std::make_shared<ModelPlan>(detail, legend, path);
    Notes notes = std::move(plan->notes());
    batch.add(path, [plan](const TextSink& sink) { plan->write(sink); });
    return notes;
}

}  // namespace hueslice::io
