#pragma once

// The header of a PLY file: the encoding of its body, the elements it declares and their
// properties, read from the header's lines with every check on them. What the reader does with
// each property (its role) is settled here, so that the body is read without looking at names.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/formats/ply/byte_source.h"
#include "io/io.h"

namespace hueslice::io::detail::ply {

// The types a property's values, and a list's count, may be stored as.
enum class Scalar { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64 };

// Bytes a value of type `t` takes in the binary encodings.
inline std::size_t sizeOf(Scalar t) {
    switch (t) {
        case Scalar::Int8:
        case Scalar::UInt8:
            return 1;
        case Scalar::Int16:
        case Scalar::UInt16:
            return 2;
        case Scalar::Int32:
        case Scalar::UInt32:
        case Scalar::Float32:
            return 4;
        case Scalar::Float64:
            return 8;
    }
    return 8;
}

inline bool isInteger(Scalar t) {
    return t != Scalar::Float32 && t != Scalar::Float64;
}

// Range of an integer type, as doubles (every bound is exact in a double).
inline double minOf(Scalar t) {
    switch (t) {
        case Scalar::Int8:
            return -128.0;
        case Scalar::Int16:
            return -32768.0;
        case Scalar::Int32:
            return -2147483648.0;
        default:
            return 0.0;
    }
}

inline double maxOf(Scalar t) {
    switch (t) {
        case Scalar::Int8:
            return 127.0;
        case Scalar::UInt8:
            return 255.0;
        case Scalar::Int16:
            return 32767.0;
        case Scalar::UInt16:
            return 65535.0;
        case Scalar::Int32:
            return 2147483647.0;
        case Scalar::UInt32:
            return 4294967295.0;
        default:
            return 1.0;
    }
}

// What the reader does with a property's values.
enum class Role { Skip, X, Y, Z, Red, Green, Blue, Indices };

// One property line: a value, or a list of values after their count.
struct Property {
    std::string name;
    bool isList = false;
    Scalar countType = Scalar::UInt8;
    Scalar type = Scalar::Float32;
    Role role = Role::Skip;
};

enum class ElementKind { Vertex, Face, Other };

// One element line and the properties that follow it.
struct Element {
    std::string name;
    std::uint64_t count = 0;
    std::vector<Property> properties;
    ElementKind kind = ElementKind::Other;
    long long line = 0;
    bool hasColour = false;

    // Fewest bytes one row can take in the binary encodings.
    std::size_t minBinaryRow() const {
        std::size_t bytes = 0;
        for (const Property& p : properties) {
            bytes += p.isList ? sizeOf(p.countType) : sizeOf(p.type);
        }
        return bytes;
    }
    // Noun for messages: "point 3", "face 2", "row 5 of 'edge'".
    std::string row(std::uint64_t index) const {
        if (kind == ElementKind::Vertex)
            return "point " + std::to_string(index);
        if (kind == ElementKind::Face)
            return "face " + std::to_string(index);
        return "row " + std::to_string(index) + " of '" + name + "'";
    }
};

enum class Format { Ascii, BinaryLittle, BinaryBig };

// The whole header. `vertex` and `face` point into `elements`, so a header is filled where it
// stays and never copied.
struct Header {
    Header() = default;
    Header(const Header&) = delete;
    Header& operator=(const Header&) = delete;

    Format format = Format::Ascii;
    std::vector<Element> elements;
    std::size_t dataStart = 0;
    long long dataLine = 1;  // line number at which the body starts
    // The elements the mesh is built from, when the file declares them.
    const Element* vertex = nullptr;
    const Element* face = nullptr;
};

// The input from its start up to at least its end_header line and the byte after it (which
// tells a CR LF ending from a bare CR), or the whole input when it has no such line.
std::string_view headerBytes(ByteSource& source);

// Reads the header at the start of `bytes`, which must reach as far as headerBytes() does, into
// `header`, checking it whole before any of the body is read. Throws InputError naming the line
// of the first fault; what is read leniently (lines without a keyword, partial colours) is said
// in `notes`.
void readHeader(std::string_view bytes, const std::string& name, Header& header, Notes& notes);

// The next line of `bytes` from `pos`, without its ending (\n, \r\n or a bare \r); advances
// `pos`. False at the end of the bytes. Inline, as text bodies call it for every line.
inline bool nextLine(std::string_view bytes, std::size_t& pos, std::string_view& line) {
    if (pos >= bytes.size())
        return false;
    const std::size_t start = pos;
    while (pos < bytes.size() && bytes[pos] != '\n' && bytes[pos] != '\r')
        ++pos;
    line = bytes.substr(start, pos - start);
    if (pos < bytes.size()) {
        if (bytes[pos] == '\r' && pos + 1 < bytes.size() && bytes[pos + 1] == '\n')
            ++pos;
        ++pos;
    }
    return true;
}

// Shortened for messages, so that a 10,000-digit token does not make a 10,000-character line.
std::string shown(std::string_view token);

// Throws the InputError for a fault at line `line` of the file called `name`.
[[noreturn]] void failLine(const std::string& name, long long line, const std::string& what);

}  // namespace hueslice::io::detail::ply
