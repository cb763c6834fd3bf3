#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "io/commit/output_batch.h"
#include "io/formats/stl/stl.h"
#include "io/internal.h"
#include "io/parts/parts.h"
#include "io/text/text_chunks.h"

namespace hueslice::io {

namespace {

constexpr std::size_t kTriangleBytes = 50;

char* putFloat(char* at, float value) {
    std::memcpy(at, &value, sizeof value);
    return at + sizeof value;
}

// The triangles of every part, made in chunks of faces on the text writer's threads: a chunk is
// a run of faces in part order, found through where each part starts.
class StlPlan {
  public:
    // The whole of `detail`, every part in turn.
    StlPlan(const GU_Detail& whole, const std::string& fileName)
        : StlPlan(std::make_shared<const GU_Detail>(whole), fileName,
                  detail::planParts(whole, {}, fileName)) {}

    // One part of `detail` alone, as if its faces were a detail of their own.
    StlPlan(std::shared_ptr<const GU_Detail> shared, const std::string& fileName,
            const detail::Part& part)
        : StlPlan(std::move(shared), fileName, detail::PartPlan{{part}, -1, {}}) {}

    Notes& notes() { return plan.notes; }

    void write(const TextSink& sink) const {
        std::string header = "binary STL written by hueslice";
        header.resize(80, ' ');
        detail::appendU32(header, static_cast<std::uint32_t>(triangles));
        sink(header);
        const std::size_t faces = partStart.back();
        const std::size_t chunks = (faces + lines - 1) / lines;
        detail::writeChunks(
            chunks, [&](std::size_t chunk, detail::TextBuffer& out) { formatChunk(chunk, out); },
            sink,
            [&](std::size_t chunk) {
                detail::reportProgress(std::min(faces, (chunk + 1) * lines), faces);
            });
    }

  private:
    StlPlan(std::shared_ptr<const GU_Detail> shared, const std::string& fileName,
            detail::PartPlan parts)
        : source(std::move(shared)), geo(*source), name(fileName), plan(std::move(parts)) {
        partStart.reserve(plan.parts.size() + 1);
        std::size_t faces = 0;
        for (const detail::Part& part : plan.parts) {
            partStart.push_back(faces);
            faces += part.faces.size();
            for (unsigned face : part.faces)
                triangles += geo.primitives()(face)->vertexCount - 2;
        }
        partStart.push_back(faces);
        if (triangles > 0xFFFFFFFFull)
            throw OutputError(name + ": more triangles than binary STL can count");
        lines = std::max<std::size_t>(1, detail::chunkShape().linesPerChunk);
    }

    void formatChunk(std::size_t chunk, detail::TextBuffer& out) const {
        const std::size_t begin = chunk * lines;
        const std::size_t end = std::min(begin + lines, partStart.back());
        auto p = static_cast<std::size_t>(
            std::upper_bound(partStart.begin(), partStart.end(), begin) - partStart.begin() - 1);
        const auto& points = geo.points();
        for (std::size_t at = begin; at < end; ++at) {
            while (partStart[p + 1] <= at)
                ++p;
            const GB_Primitive& prim = *geo.primitives()(plan.parts[p].faces[at - partStart[p]]);
            const unsigned* v = geo.primitiveVertices(prim);
            char* line = out.room(kTriangleBytes * (prim.vertexCount - 2));
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
                    line = putFloat(line, static_cast<float>(x));
                for (const UT_Vector3* q : {&a, &b, &c}) {
                    for (int i = 0; i < 3; ++i)
                        line = putFloat(line, (*q)[i]);
                }
                *line++ = 0;
                *line++ = 0;
            }
            out.advance(line);
        }
    }

    // A copy: the file may be written after the caller's detail is gone. It shares the
    // caller's storage rather than copying it, and the files of a split share one copy, as
    // copying a detail copies its groups.
    const std::shared_ptr<const GU_Detail> source;
    const GU_Detail& geo;
    const std::string name;
    detail::PartPlan plan;
    std::vector<std::size_t> partStart;  // the first face of each part in the written order
    unsigned long long triangles = 0;
    std::size_t lines = 1;  // faces per chunk
};

}  // namespace

WrittenFile writeStl(const GU_Detail& geo, const std::string& name) {
    StlPlan plan(geo, name);
    WrittenFile result;
    plan.write([&result](std::string_view piece) { result.bytes.append(piece); });
    result.notes = std::move(plan.notes());
    return result;
}

Notes stageStl(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>&, bool) {
    auto plan = std::make_shared<StlPlan>(detail, path);
    Notes notes = std::move(plan->notes());
    batch.add(path, [plan](const TextSink& sink) { plan->write(sink); });
    return notes;
}

Notes stageStlPart(OutputBatch& batch, const std::string& path,
                   const std::shared_ptr<const GU_Detail>& shared, const detail::Part& part) {
    auto plan = std::make_shared<StlPlan>(shared, path, part);
    batch.add(path, [plan](const TextSink& sink) { plan->write(sink); });
    return {};
}

}  // namespace hueslice::io
