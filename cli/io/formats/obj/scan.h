#pragma once

// The first pass over an OBJ text: points and polygons straight into a detail, and what the
// faces' groups and colours are made from once the material library is known.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "GU_Detail.h"
#include "io/formats/obj/source.h"

namespace hueslice::io::detail {

// Faces sharing their group set and material, from `firstFace` until the next run.
struct FaceRun {
    std::size_t firstFace;
    int groupSet;  // index into groupSets
    int material;  // index into materialNames, or -1
};

// A positive index to a vertex not yet read, checked once the whole file is.
struct ForwardReference {
    std::size_t face;
    unsigned corner;
    long long index;  // 1-based
    long long line;
};

// An OBJ file as read: points and polygons already in a detail, and what the faces' groups and
// colours are made from once the material library is known. The scan is ours rather than
// tinyobjloader's so that every bad index is refused with its line, and so that faces keep
// their file order and full group lists.
struct ObjScan {
    GU_Detail geo;  // points and polygons, nothing else yet
    std::size_t vertexCount = 0;
    std::size_t faceCount = 0;
    std::vector<FaceRun> runs;
    std::vector<ForwardReference> forward;
    std::vector<std::vector<int>> groupSets{{}};
    std::vector<std::string> groupNames;
    std::vector<std::string> materialNames;
    bool unnamedMaterial = false;
    detail::MaterialLibrary library;
    // Vertex colours, once any vertex has one: three floats and a flag per vertex.
    std::vector<float> vertexRgb;
    std::vector<unsigned char> vertexColoured;
    std::size_t colouredVertices = 0;
    long long firstPlainVertexLine = 0;  // first vertex written without a colour
    long long firstAboveOneLine = 0;     // first vertex colour component above 1
    // Texture coordinates (u, v per `vt` line) and, once any face names one, the `vt` of every
    // corner in corner order: 1-based, 0 for a corner without one or with an index out of range.
    std::vector<float> texCoords;
    std::vector<std::uint32_t> cornerTex;
    long long pointElements = 0;  // `p` lines, skipped
    long long lineElements = 0;   // `l` lines, skipped
    long long firstSkippedLine = 0;
};

// The scan of a whole OBJ. The scanner is gone when it returns, so that the scan's detail
// shares its storage with no other and is not copied when colours and groups are added.
ObjScan scanObj(const ObjSource& source, const std::string& objName);

}  // namespace hueslice::io::detail
