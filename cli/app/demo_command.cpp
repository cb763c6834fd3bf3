#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include <io/commit/output_batch.h>
#include <io/formats/formats.h>
#include <io/formats/json/json_geometry.h>
#include <io/io.h>
#include <io/parts/split.h>
#include <io/scene/scene.h>

#include "colour_collisions.h"
#include "commands.h"
#include "palette.h"
#include "plugin_host.h"
#include "report.h"

namespace hueslice::cli {

namespace {

// A 12 x 8 grid of quads on shared points, painted in bands:
//
//   row 7  B B B B B B b b b b b b     B = sky blue, b = the same blue 0.0015 brighter
//   ...                                (less than one step of the cook's 1/255 quantisation)
//   row 2  G G G G Y Y Y Y G G G G     G = green, Y = yellow
//   row 0  R R R R O O O O R R R R     R = red, O = orange
//
GU_Detail demoMesh() {
    constexpr int kColumns = 12, kRows = 8;
    GU_Detail mesh;
    for (int y = 0; y <= kRows; ++y) {
        for (int x = 0; x <= kColumns; ++x) {
            mesh.appendPoint(UT_Vector3(static_cast<float>(x), static_cast<float>(y), 0.0f));
        }
    }
    const int cd = mesh.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
    const float red[3] = {0.9f, 0.1f, 0.1f}, orange[3] = {1.0f, 0.55f, 0.0f},
                green[3] = {0.2f, 0.7f, 0.3f}, yellow[3] = {0.95f, 0.9f, 0.2f},
                blue[3] = {0.3f, 0.5f, 0.9f}, blueish[3] = {0.3f, 0.5f, 0.9015f};
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kColumns; ++x) {
            const unsigned p = static_cast<unsigned>(y * (kColumns + 1) + x);
            const unsigned quad[4] = {p, p + 1, p + kColumns + 2, p + kColumns + 1};
            const long long prim = mesh.appendPrimitive(quad, 4);
            const bool middle = x >= 4 && x < 8;
            const float* colour = y < 2   ? (middle ? orange : red)
                                  : y < 5 ? (middle ? yellow : green)
                                          : (x < 6 ? blue : blueish);
            std::memcpy(mesh.primitiveAttribData(prim) + cd, colour, 12);
        }
    }
    return mesh;
}

// A 48 x 32 grid of cells, each two triangles, painted in four regions (red, yellow, green, blue
// quarters), shaded as a scan is: lit so that each colour's sRGB values go from 0.85 to 1.15 times
// the paint from the bottom row to the top, with Gaussian noise of sigma 4/255 (a fixed sequence)
// and 8-bit rounding. Thousands of distinct shades, four paints. Triangles, as scans are.
GU_Detail scanMesh() {
    constexpr int kColumns = 48, kRows = 32;
    const float paints[4][3] = {
        {0.82f, 0.18f, 0.16f}, {0.95f, 0.8f, 0.2f}, {0.2f, 0.62f, 0.3f}, {0.18f, 0.36f, 0.78f}};
    GU_Detail mesh;
    for (int y = 0; y <= kRows; ++y) {
        for (int x = 0; x <= kColumns; ++x)
            mesh.appendPoint(UT_Vector3(static_cast<float>(x), static_cast<float>(y), 0.0f));
    }
    const int cd = mesh.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
    std::uint64_t state = 0x853c49e6748fea9bull;
    const auto uniform = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
    };
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kColumns; ++x) {
            const unsigned p = static_cast<unsigned>(y * (kColumns + 1) + x);
            const unsigned triangles[2][3] = {{p, p + 1, p + kColumns + 2},
                                              {p, p + kColumns + 2, p + kColumns + 1}};
            const float* paint = paints[(y < kRows / 2 ? 0 : 2) + (x < kColumns / 2 ? 0 : 1)];
            const double light = 0.85 + 0.3 * y / (kRows - 1);
            for (const unsigned* triangle : triangles) {
                const long long prim = mesh.appendPrimitive(triangle, 3);
                float colour[3];
                for (int c = 0; c < 3; ++c) {
                    const double noise = std::sqrt(-2 * std::log(uniform())) *
                                         std::cos(6.283185307179586 * uniform());
                    const double value = std::clamp(paint[c] * light + noise * 4 / 255, 0.0, 1.0);
                    colour[c] = static_cast<float>(std::round(value * 255) / 255);
                }
                std::memcpy(mesh.primitiveAttribData(prim) + cd, colour, 12);
            }
        }
    }
    return mesh;
}

}  // namespace

int runDemo(const std::string& folder, const std::string& plugin, std::ostream& out,
            std::ostream& err) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        throw io::OutputError(folder + ": cannot create folder: " + ec.message());
    const fs::path dir(folder);
    const auto inDir = [&](const char* name) { return (dir / name).string(); };
    const char* const kOutputs[] = {"output.json", "output.obj", "output.svg"};
    std::vector<std::string> files = {inDir("input.json")};
    for (const char* name : kOutputs) {
        for (std::string& file : io::geometryOutputFiles(inDir(name)))
            files.push_back(std::move(file));
    }
    files.push_back(inDir("scene.json"));
    for (const char* name : {"scan-input.ply", "scan.3mf"})
        files.push_back(inDir(name));
    io::checkOutputTargets(files);

    auto mesh = std::make_shared<GU_Detail>(demoMesh());
    io::OutputBatch outputs;
    outputs.add(inDir("input.json"), io::writeJsonGeometry(*mesh, inDir("input.json")));

    PluginHost host(plugin);
    SOP_Node& node = host.node();
    node.setInput(0, mesh);
    node.cookIfNeeded(0.0);
    node.pressButton("init");
    node.cookIfNeeded(0.0);

    // A copy: the outputs are written after the node has cooked the second mesh.
    const GU_Detail result = *node.getCookedGeo();
    const std::vector<GroupRow> rows = groupRows(node);
    printNotes(colourCollisions(rows), err);
    const std::vector<io::LegendEntry> legend = legendFor(rows);
    for (const char* name : kOutputs)
        printNotes(io::stageGeometryFile(outputs, inDir(name), result, legend), err);
    outputs.add(inDir("scene.json"), io::saveScene(node));
    out << formatGroupTable(rows, hiddenCount(result));

    // The main job: a scan's thousands of shades reduced to its paints, one part per paint.
    auto scan = std::make_shared<GU_Detail>(scanMesh());
    printNotes(io::stageGeometryFile(outputs, inDir("scan-input.ply"), *scan, {}), err);
    colour::ReductionRequest request;
    request.kind = colour::ReductionRequest::Auto;
    io::Notes notes;
    const colour::Reduction reduction = applyPalette(*scan, request, notes);
    printNotes(notes, err);
    out << "\nscan-input.ply reduced with --colours auto:\n" << formatPaletteReport(reduction);
    node.setInput(0, scan);
    node.cookIfNeeded(0.0);
    node.pressButton("init");
    node.cookIfNeeded(0.0);
    const GU_Detail& scanResult = *node.getCookedGeo();
    const std::vector<GroupRow> scanRows = groupRows(node);
    const std::vector<io::LegendEntry> scanLegend = legendFor(scanRows);
    printNotes(io::stageGeometryFile(outputs, inDir("scan.3mf"), scanResult, scanLegend), err);
    printNotes(io::stageSplit(outputs, inDir("scan-parts"), io::defaultSplitFormat(), scanResult,
                              scanLegend),
               err);
    outputs.commit();

    out << formatGroupTable(scanRows, hiddenCount(scanResult));
    out << "wrote input.json, output.json, output.obj, output.mtl, output.svg, scene.json, "
           "scan-input.ply, scan.3mf and scan-parts/ to "
        << folder << "\n";
    return 0;
}

}  // namespace hueslice::cli
