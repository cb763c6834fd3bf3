#pragma once

// Helpers shared by the format files; not part of the public interface.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io::detail {

// Offset of the colour attribute of the detail's current layer, or -1 when there is none: the
// node's own rule, so that files show the colours the node groups by.
int colourOffset(const GU_Detail& detail);

// Splits a line into `out`, words separated by spaces or tabs; `out` keeps its storage, so that
// long texts are split without allocating per line.
void splitWords(std::string_view line, std::vector<std::string_view>& out);

// The first `mtllib` line of an OBJ text: `name` is the rest of the line with blanks trimmed, and
// `firstWord` its first word; both empty when there is none.
struct MaterialLibrary {
    std::string name;
    std::string firstWord;
};

// A material library as found for an OBJ: its text (none when it is unavailable) and the name
// that messages give it.
struct MaterialText {
    std::optional<std::string> text;
    std::string name;
};

// Reads up to `room` bytes into `at`, following on from the last call; 0 only at the end.
using ReadPiece = std::function<std::size_t(char* at, std::size_t room)>;

// How an OBJ text is read: `read` gives its bytes, about `sizeHint` of them, taken `pieceBytes`
// at a time (a line longer than that grows the piece). `findLibrary` is called once the OBJ has
// been read, with its first `mtllib` line, and gives the library; with `refuseNulLibrary` a
// library name holding a NUL byte is refused at its line. Otherwise as readObj.
struct ObjSource {
    ReadPiece read;
    std::size_t sizeHint = 0;
    std::size_t pieceBytes = std::size_t{1} << 20;
    std::function<MaterialText(const MaterialLibrary&)> findLibrary;
    bool refuseNulLibrary = false;
    // A second thread reads positions and faces ahead of the first.
    bool helperThread = false;
};
Notes readObjPieces(const ObjSource& source, const std::string& objName, GU_Detail& out,
                    const ReadOptions& options, ColourSource* colours);

// An ObjSource over texts in memory, read as readObj reads them: the library is `mtlText` (none
// when empty) named `mtlName`, whatever the OBJ calls it. The caller keeps the texts alive
// while the source is used.
ObjSource memoryObjSource(std::string_view objText, std::optional<std::string_view> mtlText,
                          const std::string& mtlName);

// A vertex coordinate of an OBJ file, read exactly as tinyobjloader reads it; a number that
// rounds beyond the float range is an infinity.
float objCoordinate(std::string_view word);

// Decodes the UTF-8 character at `pos` into `codePoint` and moves `pos` past it. For a byte that
// does not start a valid, shortest-form character, returns false and moves `pos` by one byte.
bool nextCodePoint(std::string_view text, std::size_t& pos, char32_t& codePoint);

// "1 point" or "3 points": the count and the noun that agrees with it.
std::string countOf(unsigned long long count, std::string_view one, std::string_view many);

// "there is 1 point" or "there are 3 points".
std::string thereAre(unsigned long long count, std::string_view one, std::string_view many);

// The note for faces that took the colour most of their corners share: how many, and how many
// of them had a tie.
std::string cornerColourNote(const std::string& name, long long faces, long long ties);

// Gives every primitive of `geo` the colour "Cd" from `rgb`, three floats per primitive in
// primitive order (which must hold primitiveCount() colours).
void setFaceColours(GU_Detail& geo, const std::vector<float>& rgb);

// The note for a file from which no face was read, `why` saying what the file held instead;
// `vertexColours` adds that vertex colours need faces to show.
std::string noFacesNote(const std::string& name, const std::string& why, bool vertexColours);

// `value` rounded to the nearest float, as IEEE rounding gives it, without leaving the range the
// language defines: values that round to the largest float are clamped to it explicitly. False
// for finite values that would round to infinity.
bool narrowToFloat(double value, float& out);

// Tells the progress hook, if any, that `done` of `total` units of the current job are done.
// Cheap enough for every few thousand elements, not for every one.
void reportProgress(unsigned long long done, unsigned long long total);

// How many elements readers and writers handle between two progress reports.
inline constexpr unsigned long long kProgressStep = 1 << 16;

// How many bytes of a binary PLY file readPlyFile holds at a time (more only for a longer row).
inline constexpr std::size_t kPlyWindow = std::size_t{4} << 20;

// readPlyFile through a window of `window` bytes: tests make it tiny, so that rows, list counts
// and colours straddle its edges.
Notes readPlyFileThroughWindow(const std::string& path, std::size_t window, GU_Detail& out,
                               const ReadOptions& options, ColourSource* source);

}  // namespace hueslice::io::detail
