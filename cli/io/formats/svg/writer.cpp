#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>

#include "io/commit/output_batch.h"
#include "io/formats/svg/svg.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

constexpr double kDrawingSize = 600.0;
constexpr double kMargin = 20.0;
constexpr double kLegendWidth = 260.0;
constexpr double kLegendRow = 22.0;

// A colour component as 0..255: clamped to 0..1 first, NaN taken as 0.
int toByte(float c) {
    if (!(c > 0.0f))
        return 0;
    if (c >= 1.0f)
        return 255;
    return static_cast<int>(std::lround(static_cast<double>(c) * 255.0));
}

std::string rgbText(const float rgb[3]) {
    return "rgb(" + std::to_string(toByte(rgb[0])) + "," + std::to_string(toByte(rgb[1])) + "," +
           std::to_string(toByte(rgb[2])) + ")";
}

std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
}

}  // namespace

std::string writeSvg(const GU_Detail& geo, const std::vector<LegendEntry>& legend,
                     Notes* warnings) {
    const std::vector<UT_Vector3>& points = geo.points();
    double lo[3];
    double hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::numeric_limits<double>::infinity();
        hi[a] = -std::numeric_limits<double>::infinity();
    }
    for (const UT_Vector3& p : points) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z()))
            continue;
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], static_cast<double>(p[a]));
            hi[a] = std::max(hi[a], static_cast<double>(p[a]));
        }
    }
    const bool anyPoint = lo[0] <= hi[0];
    // Look along the axis in which the mesh is thinnest; the other two span the picture.
    int depthAxis = 2;
    if (anyPoint) {
        for (int a = 1; a >= 0; --a) {
            if (hi[a] - lo[a] < hi[depthAxis] - lo[depthAxis])
                depthAxis = a;
        }
    }
    const int uAxis = depthAxis == 0 ? 1 : 0;
    const int vAxis = depthAxis == 2 ? 1 : 2;
    const double extent = anyPoint ? std::max(hi[uAxis] - lo[uAxis], hi[vAxis] - lo[vAxis]) : 0.0;
    const double scale = extent > 0.0 ? (kDrawingSize - 2 * kMargin) / extent : 1.0;

    const double legendHeight = kMargin * 2 + kLegendRow * static_cast<double>(legend.size());
    const double height = std::max(kDrawingSize, legendHeight);
    const double width = kDrawingSize + kLegendWidth;
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" +
           number(height) + "\" viewBox=\"0 0 " + number(width) + " " + number(height) + "\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";

    const GB_PrimitiveGroup* hidden = geo.primitiveGroups().find(kHiddenGroupName);
    const int cd = detail::colourOffset(geo);
    const long long primCount = geo.primitiveCount();
    std::vector<long long> order;
    std::vector<double> depth(static_cast<std::size_t>(primCount), 0.0);
    order.reserve(static_cast<std::size_t>(primCount));
    for (long long i = 0; i < primCount; ++i) {
        const GB_Primitive& prim = *geo.primitives()(i);
        if (prim.vertexCount == 0 || (hidden && hidden->contains(static_cast<unsigned>(i))))
            continue;
        const unsigned* vertices = geo.primitiveVertices(prim);
        double sum = 0.0;
        bool drawable = true;
        for (unsigned v = 0; v < prim.vertexCount; ++v) {
            if (vertices[v] >= points.size()) {
                drawable = false;
                break;
            }
            const UT_Vector3& p = points[vertices[v]];
            drawable =
                drawable && std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z());
            sum += static_cast<double>(p[depthAxis]);
        }
        if (!drawable)
            continue;
        depth[static_cast<std::size_t>(i)] = sum / prim.vertexCount;
        order.push_back(i);
    }
    // Farthest first: the viewer looks from the high end of the depth axis.
    std::stable_sort(order.begin(), order.end(), [&](long long a, long long b) {
        return depth[static_cast<std::size_t>(a)] < depth[static_cast<std::size_t>(b)];
    });
    for (long long i : order) {
        const GB_Primitive& prim = *geo.primitives()(i);
        const unsigned* vertices = geo.primitiveVertices(prim);
        float rgb[3] = {0.5f, 0.5f, 0.5f};
        if (cd >= 0)
            std::memcpy(rgb, geo.primitiveAttribData(i) + cd, sizeof rgb);
        svg += "<polygon fill=\"" + rgbText(rgb) +
               "\" stroke=\"black\" stroke-width=\"0.5\" points=\"";
        for (unsigned v = 0; v < prim.vertexCount; ++v) {
            const UT_Vector3& p = points[vertices[v]];
            const double x = kMargin + (static_cast<double>(p[uAxis]) - lo[uAxis]) * scale;
            const double y =
                kDrawingSize - kMargin - (static_cast<double>(p[vAxis]) - lo[vAxis]) * scale;
            svg += (v ? " " : "") + number(x) + "," + number(y);
        }
        svg += "\"/>\n";
    }

    svg += "<g font-family=\"sans-serif\" font-size=\"14\">\n";
    for (std::size_t k = 0; k < legend.size(); ++k) {
        const double y = kMargin + kLegendRow * static_cast<double>(k);
        svg += "<rect x=\"" + number(kDrawingSize) + "\" y=\"" + number(y) +
               "\" width=\"16\" height=\"16\" stroke=\"black\" fill=\"" +
               rgbText(legend[k].swatch) + "\"/>\n";
        bool changed = false;
        const std::string shownName = detail::escapeXml(legend[k].name, changed);
        if (changed && warnings) {
            warnings->push_back("legend name '" + legend[k].name +
                                "' shown with U+FFFD for characters that XML cannot hold");
        }
        svg += "<text x=\"" + number(kDrawingSize + 24) + "\" y=\"" + number(y + 13) + "\">" +
               shownName + " (" + std::to_string(legend[k].members) + ")</text>\n";
    }
    svg += "</g>\n</svg>\n";
    return svg;
}

Notes stageSvg(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool) {
    Notes warnings;
    batch.add(path, writeSvg(detail, legend, &warnings));
    for (std::string& w : warnings)
        w = path + ": " + w;
    return warnings;
}

}  // namespace hueslice::io
