#include <unistd.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <io/commit/output_batch.h>
#include <io/formats/formats.h>
#include <io/formats/svg/svg.h>
#include <io/input/input_file.h>
#include <io/io.h>
#include <io/parts/split.h>
#include <io/scene/scene.h>

#include "cli_errors.h"
#include "colour_collisions.h"
#include "commands.h"
#include "palette.h"
#include "parm_values.h"
#include "plugin_host.h"
#include "progress_line.h"
#include "report.h"

namespace hueslice::cli {

void printNotes(const std::vector<std::string>& notes, std::ostream& err) {
    for (const std::string& note : notes)
        err << "hueslice: " << io::printable(note) << "\n";
}

namespace {

// Cooks the node when it is out of date, as a host does before its output is used. A cook
// that ends in an error is a failure of the input.
void cookIfNeeded(SOP_Node& node, const CookOptions& options) {
    if (node.cookIfNeeded(options.time) >= UT_ERROR_ABORT) {
        throw io::InputError(options.input + ": the node could not cook this geometry");
    }
}

// Every file the outputs would write, in the order they are staged.
std::vector<std::string> outputFiles(const CookOptions& options) {
    std::vector<std::string> files;
    if (!options.output.empty())
        files = io::geometryOutputFiles(options.output);
    if (!options.svg.empty())
        files.push_back(options.svg);
    if (!options.saveScene.empty())
        files.push_back(options.saveScene);
    return files;
}

// Every output is written before any replaces its file, so a failure in one of them leaves
// all the old files as they were.
void writeOutputs(const CookOptions& options, SOP_Node& node, const GU_Detail& result,
                  const std::vector<io::LegendEntry>& legend, std::ostream& err,
                  ProgressLine& progress) {
    io::OutputBatch outputs;
    if (!options.output.empty()) {
        printNotes(
            io::stageGeometryFile(outputs, options.output, result, legend, options.keepOrder), err);
    }
    if (!options.splitFolder.empty()) {
        printNotes(
            io::stageSplit(outputs, options.splitFolder, options.splitFormat, result, legend), err);
    }
    if (!options.svg.empty())
        printNotes(io::stageSvg(outputs, options.svg, result, legend, false), err);
    if (!options.saveScene.empty())
        outputs.add(options.saveScene, io::saveScene(node));
    // Geometry files are made as they are written, in the commit.
    progress.begin("writing");
    outputs.commit();
    progress.end();
}

// Reads, cooks and writes, once the split folder (if any) exists.
int cookAndWrite(const CookOptions& options, const std::optional<colour::ReductionRequest>& palette,
                 std::ostream& out, std::ostream& err) {
    // Clashing or unusable outputs are refused before any work, let alone any write.
    const std::vector<std::string> files = outputFiles(options);
    io::checkOutputTargets(files);

    // A progress line would land in the middle of a document written to the same terminal.
    for (const std::string& file : files) {
        if (file == io::kStandardOutput && ::isatty(STDOUT_FILENO) == 1)
            ProgressLine::silence();
    }
    ProgressLine progress;
    auto geometry = std::make_shared<GU_Detail>();
    io::PlyOptions ply;
    ply.vertexColours = options.vertexColours;
    progress.begin("reading");
    std::optional<colour::Reduction> reduction;
    io::Notes notes;
    if (palette) {
        io::ColourSource source;
        reduction.emplace();
        notes = readWithPalette(options.input, *geometry, ply, *palette, source, *reduction);
    } else {
        notes = io::readGeometryFile(options.input, *geometry, ply);
    }
    progress.end();
    printNotes(notes, err);
    if (reduction)
        err << formatPaletteReport(*reduction);

    PluginHost host(options.plugin);
    SOP_Node& node = host.node();
    if (!options.scene.empty()) {
        io::applyScene(io::readWholeFile(options.scene), options.scene, node);
    }
    node.setInput(0, std::move(geometry));
    progress.begin("cooking");
    const double cooks = 2.0 + static_cast<double>(options.steps.size());
    double cooked = 0;
    cookIfNeeded(node, options);
    progress.update(++cooked / cooks);

    for (const Step& step : options.steps) {
        switch (step.kind) {
            case Step::Set:
                applyAssignment(node, step.assignment);
                break;
            case Step::Initialise:
                cookIfNeeded(node, options);
                node.pressButton("init");
                if (reduction)
                    namePaletteGroups(node, *reduction);
                break;
            case Step::Sort:
                cookIfNeeded(node, options);
                node.pressButton("sort");
                break;
        }
        progress.update(++cooked / cooks);
    }
    cookIfNeeded(node, options);
    progress.end();

    const GU_Detail& result = *node.getCookedGeo();
    const std::vector<GroupRow> rows = groupRows(node);
    printNotes(colourCollisions(rows), err);
    writeOutputs(options, node, result, legendFor(rows), err, progress);
    // With an output on standard output the table goes to stderr, so the output stays clean.
    bool toStandardOutput = false;
    for (const std::string& file : files)
        toStandardOutput = toStandardOutput || file == io::kStandardOutput;
    (toStandardOutput ? err : out) << formatGroupTable(rows, hiddenCount(result));
    return 0;
}

}  // namespace

int runCook(const CookOptions& options, std::ostream& out, std::ostream& err) {
    // A palette that cannot be used is refused before anything is made.
    const std::optional<colour::ReductionRequest> palette =
        paletteRequest(options.colours, options.palette);
    // The split folder is made first, so that other outputs may go inside it, and removed again
    // when the run fails or is interrupted, so that a failure leaves nothing behind.
    if (options.splitFolder.empty() || !io::makeSplitFolder(options.splitFolder))
        return cookAndWrite(options, palette, out, err);
    io::removeFolderWithTemporaries(options.splitFolder);
    try {
        const int status = cookAndWrite(options, palette, out, err);
        io::removeFolderWithTemporaries("");
        return status;
    } catch (...) {
        io::removeFolderWithTemporaries("");
        ::rmdir(options.splitFolder.c_str());
        throw;
    }
}

}  // namespace hueslice::cli
