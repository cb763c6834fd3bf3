#pragma once

// The rows of a PLY file's body, decoded, checked and appended to a detail: the binary rows by
// readBinaryRows() (binary_rows.cpp), the text rows by readAsciiRows() (ascii_rows.cpp). What
// the two encodings share is the RowReader below. Each extends it with a class local to its own
// file, so that a row loop and all it calls per row are compiled together, as freely inlined as
// functions no other file can call.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "colour/corner_vote.h"
#include "io/formats/ply/byte_source.h"
#include "io/formats/ply/header.h"
#include "io/formats/ply/plan.h"
#include "io/internal.h"

namespace hueslice::io::detail::ply {

// Reads the binary body that `header` describes from `source` into `geo`, an empty detail, in
// one pass through the source's window; `inputSize` is the input's size as far as it could be
// told, with the counts checked against it. Gives faces the colour most of their corners share
// where `colours` says so, and returns on how many of them two or more colours tied. Throws
// InputError naming the byte at fault.
long long readBinaryRows(ByteSource& source, std::size_t inputSize, const std::string& name,
                         const Header& header, const ColourPlan& colours, GU_Detail& geo);

// Reads the text body that `header` describes into `geo`, an empty detail; `bytes` is the whole
// input. Otherwise as readBinaryRows(), but throws InputError naming the line at fault.
long long readAsciiRows(std::string_view bytes, const std::string& name, const Header& header,
                        const ColourPlan& colours, GU_Detail& geo);

// What both encodings share: the checks every row must pass, in the same order whatever the
// encoding, the detail the rows go to, and the points' colours that faces take.
class RowReader {
  protected:
    RowReader(const std::string& fileName, const Header& fileHeader, const ColourPlan& colourPlan)
        : name(fileName),
          header(fileHeader),
          colours(colourPlan),
          pointCount(fileHeader.vertex ? fileHeader.vertex->count : 0) {}

    // Gives an empty detail its colour attribute and room for `vertices` face vertices, now that
    // the element sizes are known to be possible.
    void startDetail(GU_Detail& geo, std::size_t vertices) {
        if (colours.storeColour)
            cdOffset = geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
        if (header.vertex)
            geo.reservePoints(static_cast<std::size_t>(header.vertex->count));
        if (header.face)
            geo.reservePrimitives(static_cast<std::size_t>(header.face->count), vertices);
        if (colours.packedVertexColours) {
            vertexKeys.reserve(static_cast<std::size_t>(header.vertex->count));
        } else if (colours.useVertexColours) {
            vertexRgb.reserve(static_cast<std::size_t>(header.vertex->count) * 3);
        }
    }

    // Colours faces from their corners when a file lists its faces before its points; returns
    // on how many faces in all the vote tied.
    long long finishVotes(GU_Detail& geo) {
        if (colours.useVertexColours && !colours.voteWhileBuilding) {
            const long long faces = geo.primitiveCount();
            const GB_PrimitiveList& list = geo.primitives();
            for (long long i = 0; i < faces; ++i) {
                const GB_Primitive& prim = *list(i);
                vote(geo, i, geo.primitiveVertices(prim), prim.vertexCount);
            }
        }
        return ties;
    }

    // One row as read, then as stored. Both encodings fill it through take() and settle(), so a
    // row is refused for the same faults, in the same order, whatever the encoding.
    struct Row {
        double xyz[3] = {0.0, 0.0, 0.0};
        double rgb[3] = {0.0, 0.0, 0.0};
        double rawRgb[3] = {0.0, 0.0, 0.0};  // as written, before scaling
        std::vector<unsigned> indices;
        float position[3] = {0.0f, 0.0f, 0.0f};
        float colour[3] = {0.0f, 0.0f, 0.0f};
    };

    // Folds one property value into the row. `failHere` gives a place to failures.
    template <typename Fail>
    void take(const Property& p, double value, Row& row, Fail&& failHere) const {
        switch (p.role) {
            case Role::X:
            case Role::Y:
            case Role::Z:
                row.xyz[static_cast<int>(p.role) - static_cast<int>(Role::X)] = value;
                break;
            case Role::Red:
            case Role::Green:
            case Role::Blue:
                row.rgb[static_cast<int>(p.role) - static_cast<int>(Role::Red)] =
                    isInteger(p.type) ? value / maxOf(p.type) : value;
                row.rawRgb[static_cast<int>(p.role) - static_cast<int>(Role::Red)] = value;
                break;
            case Role::Indices:
                if (!(value >= 0.0 && value < static_cast<double>(pointCount))) {
                    char buffer[32];
                    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value);
                    const std::string index(buffer, end.ptr);
                    if (value < 0.0)
                        failHere("has negative index " + index);
                    failHere("has index " + index + " but " +
                             detail::thereAre(pointCount, "point", "points"));
                }
                row.indices.push_back(static_cast<unsigned>(value));
                break;
            case Role::Skip:
                break;
        }
    }

    template <typename Fail>
    float toFloat(double value, Fail&& failHere) const {
        float narrowed = 0.0f;
        if (!detail::narrowToFloat(value, narrowed))
            failHere("has a value beyond the float range");
        return narrowed;
    }

    // The checks a complete row must pass before it can be stored, and its values as stored.
    template <typename Fail>
    void settle(const Element& e, Row& row, Fail&& failHere) const {
        if (e.kind == ElementKind::Vertex) {
            for (int i = 0; i < 3; ++i)
                row.position[i] = toFloat(row.xyz[i], failHere);
            if (colours.useVertexColours) {
                for (int i = 0; i < 3; ++i)
                    row.colour[i] = toFloat(row.rgb[i], failHere);
            }
        } else if (e.kind == ElementKind::Face) {
            if (row.indices.empty())
                failHere("has no vertices");
            if (!colours.useVertexColours && colours.storeColour) {
                for (int i = 0; i < 3; ++i)
                    row.colour[i] = toFloat(row.rgb[i], failHere);
            }
        }
    }

    // Appends a settled row.
    void store(const Element& e, const Row& row, GU_Detail& geo) {
        if (e.kind == ElementKind::Vertex) {
            geo.appendPoint(UT_Vector3(row.position[0], row.position[1], row.position[2]));
            if (colours.packedVertexColours) {
                vertexKeys.push_back(packedKey(static_cast<unsigned char>(row.rawRgb[0]),
                                               static_cast<unsigned char>(row.rawRgb[1]),
                                               static_cast<unsigned char>(row.rawRgb[2])));
            } else if (colours.useVertexColours) {
                vertexRgb.insert(vertexRgb.end(), row.colour, row.colour + 3);
            }
        } else if (e.kind == ElementKind::Face) {
            const long long prim =
                geo.appendPrimitive(row.indices.data(), static_cast<unsigned>(row.indices.size()));
            if (colours.voteWhileBuilding) {
                vote(geo, prim, row.indices.data(), row.indices.size());
            } else if (cdOffset >= 0 && !colours.useVertexColours) {
                std::memcpy(geo.primitiveAttribData(prim) + cdOffset, row.colour,
                            sizeof row.colour);
            }
        }
    }

    // Gives face `prim` the colour most of its corners share. Every point has a colour here,
    // so some corner always wins.
    void vote(GU_Detail& geo, long long prim, const unsigned* corners, std::size_t count) {
        unsigned char* cd = geo.primitiveAttribData(prim) + cdOffset;
        if (colours.packedVertexColours) {
            const colour::VoteResult result = voter.vote(vertexKeys.data(), corners, count);
            ties += result.tie;
            const std::uint32_t key = vertexKeys[corners[result.winner]];
            const float rgb[3] = {colours.byteColour[key & 0xff],
                                  colours.byteColour[(key >> 8) & 0xff],
                                  colours.byteColour[key >> 16]};
            std::memcpy(cd, rgb, sizeof rgb);
            return;
        }
        const colour::VoteResult result = voter.vote(vertexRgb.data(), corners, count);
        ties += result.tie;
        std::memcpy(cd, &vertexRgb[3 * corners[result.winner]], 3 * sizeof(float));
    }

    static std::uint32_t packedKey(unsigned char r, unsigned char g, unsigned char b) {
        return r | static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b) << 16;
    }

    const std::string& name;
    const Header& header;
    // A copy, so that the row loops reach it as they reach the rest of their state.
    const ColourPlan colours;
    std::uint64_t pointCount = 0;
    int cdOffset = -1;
    long long ties = 0;  // faces on which two or more colours tied
    // The colours faces take from their corners: three floats per point, or one packed key per
    // point for uchar colours, whose equal colours are then equal keys.
    std::vector<float> vertexRgb;
    std::vector<std::uint32_t> vertexKeys;
    colour::CornerVoter voter;
};

}  // namespace hueslice::io::detail::ply
