#include "io/formats/formats.h"

#include <string>
#include <vector>

#include "io/commit/output_batch.h"
#include "io/formats/3mf/3mf.h"
#include "io/formats/gltf/gltf.h"
#include "io/formats/json/json_geometry.h"
#include "io/formats/obj/obj.h"
#include "io/formats/ply/ply.h"
#include "io/formats/stl/stl.h"
#include "io/formats/svg/svg.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

bool fitFor(const Format& format, FormatUse use) {
    switch (use) {
        case FormatUse::read:
            return format.read != nullptr;
        case FormatUse::write:
            return format.stage != nullptr;
        case FormatUse::split:
            return format.split;
    }
    return false;
}

}  // namespace

const std::vector<Format>& formats() {
    // Lists show the formats in this order.
    static const std::vector<Format> table = {
        // extension, reader, stager, split, standard output, companion, part stager
        {"json", readJsonGeometryFile, stageJsonGeometry, false, true, nullptr},
        {"stl", nullptr, stageStl, true, false, nullptr, stageStlPart},
        {"ply", readPlyFile, stagePly, true, false, nullptr},
        {"obj", readObjFile, stageObj, true, false, materialLibraryOf},
        {"3mf", read3mfFile, stage3mf, true, false, nullptr},
        {"gltf", readGltfFile, stageGltf, false, false, nullptr},
        {"glb", readGltfFile, stageGlb, true, false, nullptr},
        {"svg", nullptr, stageSvg, false, false, nullptr},
    };
    return table;
}

const Format* formatOf(const std::string& path) {
    const std::string extension = detail::extensionOf(path);
    for (const Format& format : formats()) {
        if (extension == format.extension)
            return &format;
    }
    return nullptr;
}

std::vector<std::string> extensions(FormatUse use) {
    std::vector<std::string> list;
    for (const Format& format : formats()) {
        if (fitFor(format, use))
            list.emplace_back(format.extension);
    }
    return list;
}

std::string extensionList(FormatUse use, bool dots) {
    const std::vector<std::string> list = extensions(use);
    std::string text;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0)
            text += i + 1 == list.size() ? " or " : ", ";
        text += (dots ? "." : "") + list[i];
    }
    return text;
}

std::string defaultSplitFormat() {
    return extensions(FormatUse::split).front();
}

std::vector<std::string> geometryOutputFiles(const std::string& path) {
    const Format* format = formatOf(path);
    if (format && format->companion)
        return {path, format->companion(path)};
    return {path};
}

Notes readGeometryFile(const std::string& path, GU_Detail& out, const ReadOptions& options,
                       ColourSource* source) {
    const Format* format = formatOf(path);
    if (!format || !format->read) {
        throw InputError(path + ": unknown file type (expected " + extensionList(FormatUse::read) +
                         ")");
    }
    return format->read(path, out, options, source);
}

Notes stageGeometryFile(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend, bool keepOrder) {
    const Format* format = nullptr;
    if (path == kStandardOutput) {
        for (const Format& f : formats())
            format = f.standardOutput ? &f : format;
    } else {
        format = formatOf(path);
    }
    if (!format || !format->stage) {
        throw OutputError(path + ": unknown file type (expected " +
                          extensionList(FormatUse::write) + ")");
    }
    return format->stage(batch, path, detail, legend, keepOrder);
}

Notes writeGeometryFile(const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend) {
    OutputBatch batch;
    Notes warnings = stageGeometryFile(batch, path, detail, legend);
    batch.commit();
    return warnings;
}

}  // namespace hueslice::io
