#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "io/exchange.h"
#include "io/internal.h"
#include "io/parts/parts.h"

namespace hueslice::io {

namespace {

void putU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFFu);
}

void putFloat(std::string& out, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    putU32(out, bits);
}

unsigned char colourByte(float value) {
    return static_cast<unsigned char>(std::lround(detail::unitColour(value) * 255.0f));
}

}  // namespace

WrittenFile writeStl(const GU_Detail& geo, const std::string& name) {
    WrittenFile result;
    detail::PartPlan plan = detail::planParts(geo, {}, name);
    result.notes = std::move(plan.notes);
    unsigned long long triangles = 0;
    for (const detail::Part& part : plan.parts) {
        for (unsigned face : part.faces)
            triangles += geo.primitives()(face)->vertexCount - 2;
    }
    if (triangles > 0xFFFFFFFFull)
        throw OutputError(name + ": more triangles than binary STL can count");
    std::string& out = result.bytes;
    out.reserve(84 + 50 * triangles);
    std::string header = "binary STL written by hueslice";
    header.resize(80, ' ');
    out += header;
    putU32(out, static_cast<std::uint32_t>(triangles));
    const auto& points = geo.points();
    for (const detail::Part& part : plan.parts) {
        for (unsigned face : part.faces) {
            const GB_Primitive& prim = *geo.primitives()(face);
            const unsigned* v = geo.primitiveVertices(prim);
            for (unsigned k = 2; k < prim.vertexCount; ++k) {
                const UT_Vector3& a = points[v[0]];
                const UT_Vector3& b = points[v[k - 1]];
                const UT_Vector3& c = points[v[k]];
                const double u[3] = {double(b.x()) - a.x(), double(b.y()) - a.y(),
                                     double(b.z()) - a.z()};
                const double w[3] = {double(c.x()) - a.x(), double(c.y()) - a.y(),
                                     double(c.z()) - a.z()};
                double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                               u[0] * w[1] - u[1] * w[0]};
                const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
                for (double& x : n)
                    x = length > 0.0 && std::isfinite(length) ? x / length : 0.0;
                for (double x : n)
                    putFloat(out, static_cast<float>(x));
                for (const UT_Vector3* p : {&a, &b, &c}) {
                    for (int i = 0; i < 3; ++i)
                        putFloat(out, (*p)[i]);
                }
                out += std::string(2, '\0');
            }
        }
    }
    return result;
}

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
          std::to_string(faces) + "\nproperty list " +
          (wideCount ? "uint" : "uchar") + " int vertex_indices\n" +
          (cd >= 0 ? "property uchar red\nproperty uchar green\nproperty uchar blue\n" : "") +
          "end_header\n";
    out.reserve(out.size() + 12 * static_cast<std::size_t>(geo.pointCount()) +
                16 * static_cast<std::size_t>(geo.primitiveCount()));
    for (const UT_Vector3& p : geo.points()) {
        for (int i = 0; i < 3; ++i)
            putFloat(out, p[i]);
    }
    bool clamped = false;
    for (long long i = 0; i < geo.primitiveCount(); ++i) {
        if (!geo.primitives()(i))
            continue;
        const GB_Primitive& prim = *geo.primitives()(i);
        if (wideCount)
            putU32(out, prim.vertexCount);
        else
            out += static_cast<char>(prim.vertexCount);
        const unsigned* v = geo.primitiveVertices(prim);
        for (unsigned k = 0; k < prim.vertexCount; ++k)
            putU32(out, v[k]);
        if (cd < 0)
            continue;
        float rgb[3];
        std::memcpy(rgb, geo.primitiveAttribData(i) + cd, sizeof rgb);
        for (float c : rgb) {
            clamped = clamped || !(detail::unitColour(c) == c);
            out += static_cast<char>(colourByte(c));
        }
    }
    if (clamped)
        result.notes.push_back(name + ": colours outside [0, 1] written clamped");
    return result;
}

}  // namespace hueslice::io
