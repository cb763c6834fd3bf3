#pragma once

// The line-level reading of OBJ text shared by the reader and its helper thread: lines, words,
// positions and plain faces, told apart the same way wherever they are read.

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace hueslice::io::detail {

// Throws InputError "NAME:LINE: what".
[[noreturn]] void failAt(const std::string& name, long long line, const std::string& what);

// Throws InputError naming `what` when `text` holds a NUL byte.
void refuseNul(std::string_view text, const std::string& name, long long line, const char* what);

// The words after the first as one name: the rest of the line with its blanks trimmed.
std::string_view restOf(const std::vector<std::string_view>& words);

// Reads `word` whole as a number (a leading '+' allowed) into `value`; false when it is not one
// or is beyond the double range.
bool parseNumber(std::string_view word, double& value);
bool isNumber(std::string_view word);

// The next word of `rest` (blanks are spaces and tabs), removed from it; empty at the end.
inline std::string_view nextWord(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t'))
        ++i;
    std::size_t end = i;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t')
        ++end;
    const std::string_view word = rest.substr(i, end - i);
    rest.remove_prefix(end);
    return word;
}

// Calls `visit(line)` for every line of `text`, lines ended by \n, \r\n or \r; the last one
// ends with the text. A \r ending `text` is taken as a whole line break.
template <typename Visit>
void forEachWholeLine(std::string_view text, Visit&& visit) {
    const char* p = text.data();
    const char* const end = p + text.size();
    // Most files end their lines with \n alone; then the search for line ends is one fast scan
    // for that byte.
    const bool anyReturn = std::memchr(p, '\r', text.size()) != nullptr;
    while (p < end) {
        const char* stop = nullptr;
        if (!anyReturn) {
            stop =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (!stop)
                stop = end;
        } else {
            stop = p;
            while (stop < end && *stop != '\n' && *stop != '\r')
                ++stop;
        }
        const std::string_view line(p, static_cast<std::size_t>(stop - p));
        p = stop;
        if (p + 1 < end && p[0] == '\r' && p[1] == '\n')
            ++p;
        ++p;
        visit(line);
    }
}

// The position after a `v` keyword, read as tinyobjloader reads it; false when the first three
// words are not numbers.
bool readPosition(std::string_view rest, float xyz[3]);

// The corners after an `f` keyword, appended to `out`, when every reference is plain: a
// positive index of one of the first `vertices` vertices, maybe followed by nonzero texture and
// normal indices ("7", "7/2", "7//3", "7/2/3"). False for anything else (negative or forward
// indices, faults), which needs the full reading; `out` may then hold some of the corners.
bool readPlainFace(std::string_view rest, std::size_t vertices, std::vector<unsigned>& out);

// What the helper thread reads of a chunk of lines ahead of the scanner: the positions of its
// `v` lines and the corners of its plain `f` lines, in line order.
struct ChunkParse {
    std::vector<float> xyz;                 // three per `v` line
    std::vector<unsigned char> positionOk;  // per `v` line: readPosition succeeded
    std::vector<unsigned> corners;          // of the plain faces, one after another
    std::vector<unsigned> faceSizes;        // per `f` line: its corners, 0 when not plain

    void clear();
};

// Reads `text`, whole lines following `vertices` vertices, into `out`; returns the vertices
// after it.
std::size_t parseChunk(std::string_view text, std::size_t vertices, ChunkParse& out);

}  // namespace hueslice::io::detail
