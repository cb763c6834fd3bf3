#pragma once

// How a PLY file's body is read, worked out once from its header before any row is: where the
// colours come from, whether the declared element sizes can be in the bytes at all, and for the
// binary encodings, each element's layout as the fast loops want it.

#include <cstddef>
#include <string>

#include "io/formats/ply/header.h"
#include "io/io.h"

namespace hueslice::io::detail::ply {

// Where the faces' colours come from, settled for the whole file from its header and the
// options.
struct ColourPlan {
    // Settles where colours come from, saying in `notes` when colours of one kind are left
    // unused, or when --vertex-colours finds none to use.
    ColourPlan(const Header& header, const ReadOptions& options, const std::string& name,
               Notes& notes);

    bool useVertexColours = false;     // faces take the colour most of their corners share
    bool voteWhileBuilding = false;    // each face votes as it is built
    bool packedVertexColours = false;  // uchar vertex colours, kept as they are written
    bool storeColour = false;          // faces get "Cd"
    float byteColour[256] = {};        // uchar colour values as stored
};

// Refuses declared counts that the bytes after the header cannot hold, before anything is
// allocated for them. `inputSize` is the input's size as far as it can be told before the body
// is read.
void checkCounts(const Header& header, std::size_t inputSize, const std::string& name);

// Most face vertices the input can hold, so that the detail's vertex list is allocated
// once without a pass to count them. Only a bound: a file that grows meanwhile costs a
// regrowth, nothing more. Needs the counts checked first.
std::size_t vertexBound(const Header& header, std::size_t inputSize);

// Per-element facts worked out once from the header.
struct Plan {
    enum class Kind { Generic, Fixed, FloatPoints, SingleListFaces };
    Kind kind = Kind::Generic;
    std::size_t rowSize = 0;  // Fixed, FloatPoints: bytes per row
    // FloatPoints: where x, y and z sit in the row.
    std::size_t xyzAt[3] = {0, 0, 0};
    // SingleListFaces: bytes before the list's count and after its last value.
    std::size_t prefix = 0;
    std::size_t suffix = 0;
    Scalar countType = Scalar::UInt8;
    Scalar indexType = Scalar::Int32;
    // Colours wanted from the row (points whose colours faces take, faces with colours of their
    // own): offset from the row's start, or from the list's end when `afterList`.
    bool colours = false;
    bool byteColours = false;  // all three are uchar: converted by table
    std::size_t colourAt[3] = {0, 0, 0};
    bool afterList[3] = {false, false, false};
    Scalar colourType[3] = {Scalar::UInt8, Scalar::UInt8, Scalar::UInt8};
};

// The layout of binary element `e`, and the fast loop that can read it: rows whose every value
// a tight loop can vouch for get a Kind of their own, the rest are Generic.
Plan planFor(const Element& e, const ColourPlan& colours);

}  // namespace hueslice::io::detail::ply
