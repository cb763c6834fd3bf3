#pragma once

// Helpers shared by the format files; not part of the public interface.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {
class OutputBatch;
}

namespace hueslice::io::detail {

// Offset of the colour attribute of the detail's current layer, or -1 when there is none: the
// node's own rule, so that files show the colours the node groups by.
int colourOffset(const GU_Detail& detail);

// Splits a line into `out`, words separated by spaces or tabs; `out` keeps its storage, so that
// long texts are split without allocating per line.
void splitWords(std::string_view line, std::vector<std::string_view>& out);

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

// `text` as XML character data or attribute value. What XML cannot hold at all (bytes that are
// not UTF-8, control characters other than tab and line breaks, U+FFFE and U+FFFF) becomes
// U+FFFD; `changed` says whether anything did.
std::string escapeXml(const std::string& text, bool& changed);

// ---- Paths ----

// The folder `path` names its file in: "." for a bare name, "/" for a file at the root.
std::string folderOf(const std::string& path);

// The last component of `path`.
std::string baseOf(const std::string& path);

// The extension of the last component of `path`, lower case and without its dot; empty when
// it has none.
std::string extensionOf(const std::string& path);

// `path` without the extension of its last component.
std::string stemPath(const std::string& path);

// ---- Writing ----

// Stages `file`'s bytes for `path` into `batch` and returns its notes: how the writers that make
// a whole file at once join an output batch.
Notes stageWritten(OutputBatch& batch, const std::string& path, WrittenFile file);

// Appends `value` to `out` as 4 little-endian bytes, as the binary mesh formats store it.
inline void appendU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFFu);
}

// Appends the bits of `value` to `out` as 4 little-endian bytes.
inline void appendFloat(std::string& out, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendU32(out, bits);
}

}  // namespace hueslice::io::detail
