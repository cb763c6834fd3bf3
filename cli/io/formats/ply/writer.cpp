#include <algorithm>
#include <cstring>
#include <string>

#include "io/formats/ply/ply.h"
#include "io/internal.h"
#include "io/parts/parts.h"

namespace hueslice::io {

WrittenFile writePly(const GU_Detail& geo, const std::string& name) {
    WrittenFile result;
    const int cd = detail::colourOffset(geo);
    // Holes in the primitive list are not faces.
    unsigned maxVertices = 0;
    long long faces = 0;
    for (long long i = 0; i < geo.primitiveCount(); ++i) {
        if (const GB_Primitive* prim = geo.primitives()(i)) {
            maxVertices = std::max(maxVertices, prim->vertexCount);
            ++faces;
        }
    }
    const bool wideCount = maxVertices > 255;
    std::string& out = result.bytes;
    out = "ply\nformat binary_little_endian 1.0\ncomment written by hueslice\nelement vertex " +
          std::to_string(geo.pointCount()) +
          "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
          std::to_string(faces) + "\nproperty list " + (wideCount ? "uint" : "uchar") +
          " int vertex_indices\n" +
          (cd >= 0 ? "property uchar red\nproperty uchar green\nproperty uchar blue\n" : "") +
          "end_header\n";
    out.reserve(out.size() + 12 * static_cast<std::size_t>(geo.pointCount()) +
                16 * static_cast<std::size_t>(geo.primitiveCount()));
    for (const UT_Vector3& p : geo.points()) {
        for (int i = 0; i < 3; ++i)
            detail::appendFloat(out, p[i]);
    }
    bool clamped = false;
    for (long long i = 0; i < geo.primitiveCount(); ++i) {
        if (!geo.primitives()(i))
            continue;
        const GB_Primitive& prim = *geo.primitives()(i);
        if (wideCount)
            detail::appendU32(out, prim.vertexCount);
        else
            out += static_cast<char>(prim.vertexCount);
        const unsigned* v = geo.primitiveVertices(prim);
        for (unsigned k = 0; k < prim.vertexCount; ++k)
            detail::appendU32(out, v[k]);
        if (cd < 0)
            continue;
        float rgb[3];
        std::memcpy(rgb, geo.primitiveAttribData(i) + cd, sizeof rgb);
        for (float c : rgb) {
            clamped = clamped || !(detail::unitColour(c) == c);
            out += static_cast<char>(detail::colourByte(c));
        }
    }
    if (clamped)
        result.notes.push_back(name + ": colours outside [0, 1] written clamped");
    return result;
}

Notes stagePly(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>&, bool) {
    return detail::stageWritten(batch, path, writePly(detail, path));
}

}  // namespace hueslice::io
