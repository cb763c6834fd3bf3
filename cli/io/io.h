#pragma once

// File formats of the command-line host: geometry readers and writers, scene files and atomic
// file output.
//
// Every reader takes the whole input as bytes plus a display name, so that tests and fuzzers can
// feed it memory; the *File forms read a path. On bad input a reader throws InputError and
// leaves its output untouched; a reader never throws anything else for bad input (only
// std::bad_alloc when memory really runs out). Element numbers in messages (point 3, face 2)
// count from 0, in file order.

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "OP_Parameters.h"

namespace hueslice::io {

// Bad input. what() is one line without a program prefix: "FILE:LINE: fault" for text (line
// counted from 1), "FILE: byte N: fault" for binary data (N counted from 0) or "FILE: fault".
class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A write that failed; what() is "FILE: fault".
class OutputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Notes for the user about input that was read, each one line, possibly none.
using Notes = std::vector<std::string>;

// Receives a streaming writer's text piece by piece, in order. It may throw OutputError.
using TextSink = std::function<void(std::string_view)>;

// Told how far the current read or write has come, as a share from 0 to 1; called now and then
// by the readers and writers below, from the calling thread. Null (the default) for none.
using ProgressHook = std::function<void(double share)>;
void setProgressHook(ProgressHook hook);

// `text` fit for a one-line message: line breaks, tabs and other control characters (the
// terminal's escape character among them) and bytes that are not UTF-8 are shown as escapes
// such as \n and \x1B.
std::string printable(std::string_view text);

// How a reader chooses each face's colour. Without options, a face takes the first of: a colour
// of its own (a PLY face colour, an OBJ material's Kd, a JSON primitive attribute); the colour
// most of its corners share, when the file has vertex colours (a tie goes to the earliest
// corner holding one of the tied colours); no colour.
struct ReadOptions {
    // Faces take the colour most of their corners share even when they have one of their own.
    bool vertexColours = false;
};
using PlyOptions = ReadOptions;

// Where a reader's face colours came from, for reports. Every face is counted once, in the
// first of ownColour, cornerColour and noColour that applies.
struct ColourSource {
    long long ownColour = 0;     // faces with a colour of their own
    long long cornerColour = 0;  // faces coloured by the colour most of their corners share
    long long ties = 0;          // of those, faces on which two or more colours tied
    long long noColour = 0;      // faces given no colour, or a stand-in colour
    bool cornersFirst = false;   // corners were asked to win over faces' own colours
};

// The host's group of primitives that are not drawn.
inline constexpr const char* kHiddenGroupName = "3d_hidden_primitives";

// The shortest decimal text that reads back to exactly `value`; "nan", "inf" and "-inf" for the
// values that have no digits.
std::string floatText(float value);

// ---- Native JSON geometry ----

// Replaces `out` by the geometry in `text`. Float attributes, points and groups come back
// exactly as written by writeJsonGeometry; a NaN reads back as the quiet NaN. `source`, when
// not null, receives where the faces' colours came from.
void readJsonGeometry(std::string_view text, const std::string& name, GU_Detail& out,
                      ColourSource* source = nullptr);

// The whole detail as JSON text: points, primitives, every primitive and detail attribute and
// every primitive group (creation order, empty groups included). Throws OutputError naming
// `name` for an attribute that JSON cannot describe (a byte size that is not whole 4-byte
// components, or more than 64 components).
std::string writeJsonGeometry(const GU_Detail& detail, const std::string& name);
// The same text handed to `sink` as it is made. On OutputError nothing has been given to `sink`.
void writeJsonGeometry(const GU_Detail& detail, const std::string& name, const TextSink& sink);

// ---- PLY ----

// Replaces `out` by the mesh in a PLY file (ascii or binary of either byte order). Face colours,
// or vertex colours by the rule of ReadOptions, become the primitive attribute "Cd"; colour
// properties are red, green and blue or diffuse_red, diffuse_green and diffuse_blue, of any
// scalar type, integers scaled from their type's range to 0..1. A header line with an unknown
// keyword is read as a comment. Returns notes, e.g. that vertex colours were used and how many
// faces tied. `source`, when not null, receives where the faces' colours came from.
Notes readPly(std::string_view bytes, const std::string& name, GU_Detail& out,
              const ReadOptions& options = {}, ColourSource* source = nullptr);

// readPly on the file at `path`, named by its path in messages. Binary data is read in one pass
// through a window of a few MiB, never held whole; text is read whole.
Notes readPlyFile(const std::string& path, GU_Detail& out, const ReadOptions& options = {},
                  ColourSource* source = nullptr);

// ---- OBJ + MTL ----

// Replaces `out` by the polygons of an OBJ text, in file order. `g` lines name the groups of the
// faces after them (a bare `g` means no group). A face's colour follows ReadOptions: its
// material's Kd when the material is found in `mtlText`, else the colour most of its corners
// share among the vertices written `v x y z r g b`. When any face gets a colour, every face gets
// "Cd", white (1,1,1) for faces with neither. Vertex colours are 0..1, except that a file in
// which any vertex colour component is above 1 has all of them divided by 255 (the 0..255 form
// some writers use). Vertices without a colour do not vote. `mtlText` empty (std::nullopt)
// means the material library is unavailable: materials give no colour and a note says so. Kd
// is read at float precision. A material's name is the rest of its `newmtl` or `usemtl` line,
// trimmed, so it may hold spaces. A group, material or library name holding a NUL byte is
// refused, as in every reader: names become C strings, which it would cut short. Points and
// lines (`p`, `l`) are skipped with a note. `source`, when not null, receives where the faces'
// colours came from.
Notes readObj(std::string_view objText, const std::string& objName,
              std::optional<std::string_view> mtlText, const std::string& mtlName, GU_Detail& out,
              const ReadOptions& options = {}, ColourSource* source = nullptr);

struct ObjText {
    std::string obj;
    std::string mtl;  // empty when the detail has no "Cd"; then the OBJ names no library
    Notes warnings;   // e.g. group names changed to fit the format
};

// OBJ and MTL text for a detail. `mtlFileName` is the name the `mtllib` line gives. Faces are
// written together by their set of groups (sets in order of first use, input order within a
// set), so each distinct set has one `g` line; `keepOrder` keeps the input order instead. Faces
// with no group are written after a bare `g`. A group name that is not one word is written with
// '_' for its blanks, numbered where that meets another group's name, with a warning. Each
// distinct colour (by bits) becomes one material colour_<n>. Throws OutputError naming `name`
// for a primitive without vertices.
ObjText writeObj(const GU_Detail& detail, const std::string& mtlFileName, const std::string& name,
                 bool keepOrder = false);

// writeObj in two steps: the MTL text and the warnings at once, and a writer that hands the OBJ
// text to a sink as it is made, later. The writer keeps the detail as it was (a copy sharing its
// storage), so it may run after `detail` is changed or gone. It formats the text on worker
// threads and calls the sink only from the thread that runs it; what the sink throws is passed
// on once every worker has stopped.
struct ObjStream {
    std::string mtl;
    Notes warnings;
    std::function<void(const TextSink&)> writeObj;
};
ObjStream streamObj(const GU_Detail& detail, const std::string& mtlFileName,
                    const std::string& name, bool keepOrder = false);

// ---- SVG ----

struct LegendEntry {
    std::string name;
    float swatch[3] = {0.5f, 0.5f, 0.5f};
    long long members = 0;
};

// A picture of the detail seen along the axis in which its bounding box is thinnest: faces
// filled with their "Cd" (grey without one), back to front, hidden primitives left out, and
// a legend of `legend` in the given order. Always a well-formed SVG document: characters of a
// legend name that XML cannot hold (invalid UTF-8, most control characters) are shown as U+FFFD,
// and a note for each such name goes to `warnings` when given.
std::string writeSvg(const GU_Detail& detail, const std::vector<LegendEntry>& legend,
                     Notes* warnings = nullptr);

// ---- Files ----

// Two outputs that would write one file: a command line that cannot be carried out.
class OutputClash : public OutputError {
  public:
    using OutputError::OutputError;
};

// The output name that means standard output.
inline constexpr std::string_view kStandardOutput = "-";

// A regular file open for reading, for readers that take a big file a piece at a time rather
// than whole. Anything else (a folder, a FIFO, a device) is refused without reading from it.
// Every fault throws InputError "PATH: cannot read file: reason".
class InputFile {
  public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& path() const { return name; }
    // The size when the file was opened: only a guess at what reading will give, as the file may
    // grow or shrink meanwhile.
    std::size_t sizeWhenOpened() const { return openedSize; }
    // Reads up to `room` bytes into `at` from where the last read ended; 0 only at the end.
    std::size_t read(char* at, std::size_t room);

  private:
    std::string name;
    int fd = -1;
    std::size_t openedSize = 0;
};

// The whole content of a regular file, as InputFile reads it.
std::string readWholeFile(const std::string& path);

// Checks output targets before anything is written. Throws OutputClash when two of them would
// write one file (by name, or the same FIFO or device), and OutputError "PATH: reason" for a
// folder, for a file type that can be neither replaced nor written into, or for a folder that
// cannot hold the file.
void checkOutputTargets(const std::vector<std::string>& paths);

// Files replaced together, all or none. Regular files (and names not yet taken) are written in
// full to temporaries beside their targets, flushed to disk and then renamed over their targets;
// when one rename fails, the files already replaced get their old content back. A replaced file
// keeps its permission bits (and owner, when running as root). A FIFO, a character device or
// kStandardOutput is written into directly, after the temporaries and before any rename, so it
// cannot be all-or-nothing.
class OutputBatch {
  public:
    // Stages `bytes` for `path`; nothing touches the file system until commit().
    void add(const std::string& path, std::string bytes);
    // Stages a file whose bytes `produce` gives to its sink piece by piece, called in commit()
    // as the file is written, so that a big file is never held whole. What it throws is passed
    // on, with every target as it was. Whatever `produce` reads must outlive the commit.
    void add(const std::string& path, std::function<void(const TextSink&)> produce);
    // Checks every target as checkOutputTargets does, then writes and puts everything in place.
    // Throws OutputClash or OutputError naming the file at fault; then no target has changed
    // except a stream that was partly written. Empties the batch.
    void commit();

  private:
    struct Staged {
        std::string path;
        std::string bytes;
        std::function<void(const TextSink&)> produce;  // makes the bytes, when set
    };
    std::vector<Staged> staged;
};

// Makes SIGINT, SIGTERM and SIGHUP remove the temporaries of a batch being committed, leave
// every old file in place and end the program with status 128 + the signal's number. Signals
// that arrive while files are being renamed wait until the renames are done, then every
// replaced file is restored first. Signals the program was started with ignored stay ignored.
void cleanUpOnSignals();

// Removes the temporaries of a batch being committed, if any; safe in a signal handler or when
// the program must end at once.
void removeTemporaries() noexcept;

// Replaces the file at `path` by `bytes` so that readers see either the old or the new content.
// On any failure the old file is left as it was and OutputError is thrown.
void writeFileAtomically(const std::string& path, std::string_view bytes);

// The files a geometry output writes: `path`, and for .obj the material library beside it (the
// library only when the detail has colours).
std::vector<std::string> geometryOutputFiles(const std::string& path);

// Reads .json, .ply, .obj, .3mf, .gltf or .glb by extension (case-insensitive) into `out`. An
// OBJ's material library and a .gltf's external buffers are looked for beside it. Returns
// notes; `source`, when not null, receives where the faces' colours came from (JSON, PLY and
// OBJ).
Notes readGeometryFile(const std::string& path, GU_Detail& out, const ReadOptions& options = {},
                       ColourSource* source = nullptr);

// Stages .json, .obj (with its material library, see geometryOutputFiles), .svg, .3mf, .gltf,
// .glb, .stl or .ply by extension into `batch`; kStandardOutput takes JSON. `legend` gives the
// pictures and the parts of the exchange formats their colours; `keepOrder` is for .obj (see
// writeObj). Returns warnings.
Notes stageGeometryFile(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend = {}, bool keepOrder = false);

// stageGeometryFile for one file, committed at once.
Notes writeGeometryFile(const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend = {});

// ---- Scenes ----

// Most instances a multi-list count may ask for in a short scene (and on the command line). A
// longer scene may ask for one per 64 of its bytes, fewer than any saved entry takes, so every
// scene the program saves loads again while a short file cannot make it allocate much.
inline constexpr int kMaxEntries = 100000;

// Applies the parameter values of a scene file to `node`: list counts first, then the rest.
// The scene is checked in full before anything is set, so a bad scene leaves `node` as it was.
// Text values holding a NUL are refused, as names are in every reader.
void applyScene(std::string_view text, const std::string& name, OP_Parameters& node);

// Every parameter of `node` with a value (buttons have none) as scene JSON, keyframes included,
// numbers exact. Instances of lists are made on the way, as the host's allParms() does. Throws
// OutputError for text that is not valid UTF-8.
std::string saveScene(OP_Parameters& node);

}  // namespace hueslice::io
