#pragma once

// What every reader and writer of the command-line host's files shares: its faults, notes,
// options and colour report. Each format has its own folder under formats/, and
// formats/formats.h chooses among them by extension.
//
// Every reader takes the whole input as bytes plus a display name, so that tests and fuzzers can
// feed it memory; the *File forms read a path. On bad input a reader throws InputError and
// leaves its output untouched; a reader never throws anything else for bad input (only
// std::bad_alloc when memory really runs out). Element numbers in messages (point 3, face 2)
// count from 0, in file order.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"

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
    // When set, every decoded texture's texels (8-bit RGBA, 4 bytes each) pass through it
    // before faces vote on them: a palette snaps them, so that a face takes the palette colour
    // that covers most of it rather than the mean of a border's colours.
    std::function<void(std::vector<std::uint8_t>& rgba)> snapTexels = nullptr;
};
using PlyOptions = ReadOptions;

// Where a reader's face colours came from, for reports. Every face is counted once, in the
// first of textureColour, ownColour, cornerColour and noColour that applies.
// A texture that coloured faces, for reports.
struct TextureReport {
    std::string material;  // as messages name it
    std::string image;     // as the model names it
    int width = 0;
    int height = 0;
    long long faces = 0;  // faces coloured from it
};

struct ColourSource {
    long long textureColour = 0;  // faces coloured from a texture (times their material colour)
    long long ownColour = 0;      // faces with a colour of their own
    long long cornerColour = 0;   // faces coloured by the colour most of their corners share
    long long ties = 0;           // of those, faces on which two or more colours tied
    long long noColour = 0;       // faces given no colour, or a stand-in colour
    bool cornersFirst = false;    // corners were asked to win over faces' own colours
    std::vector<TextureReport> textures;  // in the order the model first uses them
};

// The host's group of primitives that are not drawn.
inline constexpr const char* kHiddenGroupName = "3d_hidden_primitives";

// The shortest decimal text that reads back to exactly `value`; "nan", "inf" and "-inf" for the
// values that have no digits.
std::string floatText(float value);

// A group as the pictures and the exchange formats show it: its name, the colour of its entry
// and how many primitives it holds.
struct LegendEntry {
    std::string name;
    float swatch[3] = {0.5f, 0.5f, 0.5f};
    long long members = 0;
};

// A written file and what the user should be told about it.
struct WrittenFile {
    std::string bytes;
    Notes notes;
};

}  // namespace hueslice::io
