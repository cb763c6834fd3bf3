#include <cmath>
#include <cstdint>
#include <string>

#include "io/formats/stl/stl.h"
#include "io/internal.h"
#include "io/parts/parts.h"

namespace hueslice::io {

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
    detail::appendU32(out, static_cast<std::uint32_t>(triangles));
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
                    detail::appendFloat(out, static_cast<float>(x));
                for (const UT_Vector3* p : {&a, &b, &c}) {
                    for (int i = 0; i < 3; ++i)
                        detail::appendFloat(out, (*p)[i]);
                }
                out += std::string(2, '\0');
            }
        }
    }
    return result;
}

Notes stageStl(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>&, bool) {
    return detail::stageWritten(batch, path, writeStl(detail, path));
}

}  // namespace hueslice::io
