#pragma once

// How the OBJ reader takes its text: a piece at a time from a file or from memory, with the
// material library found once the OBJ has named it. Shared by the reader's files and tests.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io::detail {

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
    // The bytes of the image file a material library names (`map_Kd`, separators already '/'),
    // or nothing when there is no such file: its faces then keep their material's colour, with
    // a note. Throws InputError for a reference that must not be followed. Null: images cannot
    // be read (input from memory).
    std::function<std::optional<std::string>(const std::string& reference)> findImage;
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

}  // namespace hueslice::io::detail
