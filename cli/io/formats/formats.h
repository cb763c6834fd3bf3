#pragma once

// The table of file formats: which reader and writer each extension takes, and the lists that
// messages and the command line show. Adding a format is one folder under formats/ and one row
// of the table.

#include <memory>
#include <string>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;
namespace detail {
struct Part;
}

// Reads the file at `path` into `out` by the rules of io.h; returns notes. `source`, when not
// null, receives where the faces' colours came from.
using FileReader = Notes (*)(const std::string& path, GU_Detail& out, const ReadOptions& options,
                             ColourSource* source);

// Stages the files that show `detail` at `path` into `batch`; returns warnings. `legend` gives
// pictures and parts their colours; `keepOrder` keeps the input's face order where a format
// would otherwise reorder the faces.
using FileStager = Notes (*)(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                             const std::vector<LegendEntry>& legend, bool keepOrder);

// Stages one part of `detail` (a part of io/parts/parts.h) as a file of its own at `path`,
// without a detail of the part's own; returns warnings.
using PartStager = Notes (*)(OutputBatch& batch, const std::string& path,
                             const std::shared_ptr<const GU_Detail>& detail,
                             const detail::Part& part);

struct Format {
    const char* extension;  // lower case, without the dot
    FileReader read;        // null when the format is only written
    FileStager stage;       // null when the format is only read
    // Whether a split folder can hold files of this format; the first such is the default.
    bool split = false;
    // Whether this is the format written to standard output (kStandardOutput).
    bool standardOutput = false;
    // The path of a second file written beside the one at `path`, or null for none.
    std::string (*companion)(const std::string& path) = nullptr;
    // A split folder's files made straight from the whole detail, or null where each part is
    // first copied into a detail of its own.
    PartStager stagePart = nullptr;
};

// Every format, in the order that lists show them.
const std::vector<Format>& formats();

// The format of `path` by its extension, compared without case; null when there is none.
const Format* formatOf(const std::string& path);

// What a list of formats is for.
enum class FormatUse { read, write, split };

// The extensions of the formats fit for `use`, in table order, without dots.
std::vector<std::string> extensions(FormatUse use);

// Those extensions as text for people: ".json, .ply or .obj" with `dots`, else "json, ply or
// obj".
std::string extensionList(FormatUse use, bool dots = true);

// The format of split files when none is asked for: the first split format.
std::string defaultSplitFormat();

// The files a geometry output writes: `path`, and any companion beside it (an OBJ's material
// library, written only when the detail has colours).
std::vector<std::string> geometryOutputFiles(const std::string& path);

// Reads a file by its format (see formatOf) into `out`. Files it names, such as an OBJ's
// material library or a .gltf's external buffers, are looked for beside it. Returns notes;
// `source`, when not null, receives where the faces' colours came from (JSON, PLY and OBJ).
// Throws InputError for a format that cannot be read.
Notes readGeometryFile(const std::string& path, GU_Detail& out, const ReadOptions& options = {},
                       ColourSource* source = nullptr);

// Stages `detail` into `batch` by the format of `path`; kStandardOutput takes JSON. `legend`
// gives the pictures and the parts of the exchange formats their colours; `keepOrder` is for
// .obj (see writeObj). Returns warnings. Throws OutputError for a format that cannot be written.
Notes stageGeometryFile(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend = {}, bool keepOrder = false);

// stageGeometryFile for one file, committed at once.
Notes writeGeometryFile(const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend = {});

}  // namespace hueslice::io
