#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <unordered_set>

#include "colour/corner_vote.h"
#include "io/formats/ply/byte_source.h"
#include "io/formats/ply/ply.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

using detail::ByteSource;

enum class Scalar { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64 };

struct ScalarName {
    const char* name;
    Scalar type;
};

const ScalarName kScalarNames[] = {
    {"char", Scalar::Int8},       {"int8", Scalar::Int8},       {"uchar", Scalar::UInt8},
    {"uint8", Scalar::UInt8},     {"short", Scalar::Int16},     {"int16", Scalar::Int16},
    {"ushort", Scalar::UInt16},   {"uint16", Scalar::UInt16},   {"int", Scalar::Int32},
    {"int32", Scalar::Int32},     {"uint", Scalar::UInt32},     {"uint32", Scalar::UInt32},
    {"float", Scalar::Float32},   {"float32", Scalar::Float32}, {"double", Scalar::Float64},
    {"float64", Scalar::Float64},
};

std::size_t sizeOf(Scalar t) {
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

bool isInteger(Scalar t) {
    return t != Scalar::Float32 && t != Scalar::Float64;
}

// Range of an integer type, as doubles (every bound is exact in a double).
double minOf(Scalar t) {
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

double maxOf(Scalar t) {
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

struct Property {
    std::string name;
    bool isList = false;
    Scalar countType = Scalar::UInt8;
    Scalar type = Scalar::Float32;
    Role role = Role::Skip;
};

enum class ElementKind { Vertex, Face, Other };

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

struct Header {
    Format format = Format::Ascii;
    std::vector<Element> elements;
    std::size_t dataStart = 0;
    long long dataLine = 1;  // line number at which the body starts
};

bool hostIsLittleEndian() {
    const std::uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Unsigned integer of N bytes, the carrier for byte swaps.
template <std::size_t N>
struct Bits;
template <>
struct Bits<1> {
    using type = std::uint8_t;
};
template <>
struct Bits<2> {
    using type = std::uint16_t;
};
template <>
struct Bits<4> {
    using type = std::uint32_t;
};
template <>
struct Bits<8> {
    using type = std::uint64_t;
};

inline std::uint8_t swapped(std::uint8_t v) {
    return v;
}
inline std::uint16_t swapped(std::uint16_t v) {
    return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}
inline std::uint32_t swapped(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}
inline std::uint64_t swapped(std::uint64_t v) {
    return (static_cast<std::uint64_t>(swapped(static_cast<std::uint32_t>(v))) << 32) |
           swapped(static_cast<std::uint32_t>(v >> 32));
}

// A value of type T at `p`, which need not be aligned, stored in the other byte order when
// `Swap`.
template <typename T, bool Swap>
inline T load(const unsigned char* p) {
    using U = typename Bits<sizeof(T)>::type;
    U bits;
    std::memcpy(&bits, p, sizeof bits);
    if (Swap)
        bits = swapped(bits);
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

template <bool Swap>
double decodeAs(Scalar t, const unsigned char* p) {
    switch (t) {
        case Scalar::Int8:
            return load<std::int8_t, Swap>(p);
        case Scalar::UInt8:
            return load<std::uint8_t, Swap>(p);
        case Scalar::Int16:
            return load<std::int16_t, Swap>(p);
        case Scalar::UInt16:
            return load<std::uint16_t, Swap>(p);
        case Scalar::Int32:
            return load<std::int32_t, Swap>(p);
        case Scalar::UInt32:
            return load<std::uint32_t, Swap>(p);
        case Scalar::Float32:
            return static_cast<double>(load<float, Swap>(p));
        case Scalar::Float64:
            return load<double, Swap>(p);
    }
    return 0.0;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    detail::splitWords(line, out);
    return out;
}

// Shortened for messages, so that a 10,000-digit token does not make a 10,000-character line.
std::string shown(std::string_view token) {
    constexpr std::size_t kShown = 24;
    if (token.size() <= kShown)
        return std::string(token);
    return std::string(token.substr(0, kShown)) + "...";
}

class PlyReader {
  public:
    PlyReader(ByteSource& input, const std::string& fileName, const ReadOptions& opts)
        : source(input), name(fileName), options(opts) {}

    // Replaces `out` by the file's mesh; on a fault, throws and leaves `out` as it was.
    Notes read(GU_Detail& out, ColourSource* sourceOut) {
        if (!source.need(0, 1))
            failPlain("empty file");
        bytes = headerBytes();
        readHeader();
        // Text is read whole; so is binary data whose size cannot be told beforehand, as the
        // element sizes are checked against it before anything is allocated.
        if (header.format == Format::Ascii || !source.sizeKnown(inputSize)) {
            bytes = source.whole();
            inputSize = bytes.size();
        } else {
            bytes = {};  // the header's bytes go as the window moves on
        }
        prepare();
        GU_Detail geo;
        if (header.format == Format::Ascii) {
            startDetail(geo, face ? static_cast<std::size_t>(face->count) * 3 : 0);
            readAscii(geo);
        } else {
            readBinary(geo);
        }
        finish(geo);
        out = geo;
        if (sourceOut)
            *sourceOut = colourSource;
        return notes;
    }

  private:
    [[noreturn]] void failLine(long long line, const std::string& what) const {
        // A header fault may come from a mistyped keyword that was read as a comment.
        const std::string hint =
            headerDone || firstUnknownLine == 0
                ? std::string()
                : " (line " + std::to_string(firstUnknownLine) + " was read as a comment)";
        throw InputError(name + ":" + std::to_string(line) + ": " + what + hint);
    }
    // Names are C strings further on, where a NUL would cut them short; no reader takes one.
    void refuseNul(const std::string& text, long long line, const char* what) const {
        if (text.find('\0') != std::string::npos)
            failLine(line, std::string(what) + " holds a NUL byte");
    }
    [[noreturn]] void failByte(std::size_t offset, const std::string& what) const {
        throw InputError(name + ": byte " + std::to_string(offset) + ": " + what);
    }
    [[noreturn]] void failPlain(const std::string& what) const {
        throw InputError(name + ": " + what);
    }

    // The next line of `bytes` from `pos`, without its ending (\n, \r\n or a bare \r); advances
    // `pos`. False at the end of the bytes.
    bool nextLine(std::size_t& pos, std::string_view& line) const {
        return nextLineOf(bytes, pos, line);
    }
    static bool nextLineOf(std::string_view bytes, std::size_t& pos, std::string_view& line) {
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

    static bool isEndHeader(std::string_view line) {
        const std::vector<std::string_view> w = words(line);
        return !w.empty() && w[0] == "end_header";
    }

    // The input from its start up to at least its end_header line and the byte after it (which
    // tells a CR LF ending from a bare CR), or the whole input when it has no such line.
    std::string_view headerBytes() {
        std::size_t scanned = 0;  // where the first line not yet seen whole starts
        for (;;) {
            const std::string_view held = source.window();
            std::size_t pos = scanned;
            std::string_view line;
            while (nextLineOf(held, pos, line) && pos < held.size()) {
                if (isEndHeader(line))
                    return held;
                scanned = pos;
            }
            if (!source.more())
                return source.window();
        }
    }

    static bool parseScalar(std::string_view word, Scalar& type) {
        for (const ScalarName& s : kScalarNames) {
            if (word == s.name) {
                type = s.type;
                return true;
            }
        }
        return false;
    }

    void readHeader() {
        std::size_t pos = 0;
        std::string_view line;
        long long lineNo = 0;
        bool sawFormat = false;
        bool ended = false;
        nextLine(pos, line);
        lineNo = 1;
        const std::vector<std::string_view> magic = words(line);
        if (magic.size() != 1 || magic[0] != "ply")
            failLine(1, "not a ply file (the first line must be 'ply')");
        const bool bareCr = bytes[pos - 1] == '\r';
        checkHeaderEnds();
        while (!ended && nextLine(pos, line)) {
            ++lineNo;
            const std::vector<std::string_view> w = words(line);
            if (w.empty())
                continue;
            const std::string_view key = w[0];
            if (key == "comment" || key == "obj_info")
                continue;
            if (key == "end_header") {
                if (w.size() != 1)
                    failLine(lineNo, "unexpected words after end_header");
                ended = true;
            } else if (key == "format") {
                readFormat(w, lineNo);
                sawFormat = true;
            } else if (key == "element") {
                readElement(w, lineNo);
            } else if (key == "property") {
                readProperty(w, lineNo);
            } else {
                // Some old writers put free text in the header without a comment keyword.
                if (unknownLines++ == 0) {
                    firstUnknownLine = lineNo;
                    firstUnknownKey = std::string(key);
                }
            }
        }
        if (!sawFormat)
            failLine(lineNo, "header has no format line");
        // In a header whose lines end with a bare CR, a line feed after end_header's CR is not
        // part of the line ending but the first byte of the binary data.
        if (bareCr && header.format != Format::Ascii && bytes[pos - 1] == '\n' &&
            bytes[pos - 2] == '\r') {
            --pos;
        }
        header.dataStart = pos;
        header.dataLine = lineNo + 1;
        checkElements();
        headerDone = true;
        if (unknownLines > 0) {
            notes.push_back(name + ":" + std::to_string(firstUnknownLine) +
                            ": header line starting '" + shown(firstUnknownKey) +
                            "' has no ply keyword; read as a comment" +
                            (unknownLines > 1
                                 ? " (and " + std::to_string(unknownLines - 1) + " more such lines)"
                                 : ""));
        }
    }

    // A file cut short inside its header is reported as such, rather than as a fault in the
    // partial line it ends with.
    void checkHeaderEnds() const {
        std::size_t pos = 0;
        std::string_view line;
        long long lineNo = 0;
        while (nextLine(pos, line)) {
            ++lineNo;
            if (isEndHeader(line))
                return;
        }
        failLine(lineNo, "header has no end_header line");
    }

    void readFormat(const std::vector<std::string_view>& w, long long lineNo) {
        if (w.size() != 3)
            failLine(lineNo, "format line must be 'format <encoding> 1.0'");
        if (w[1] == "ascii") {
            header.format = Format::Ascii;
        } else if (w[1] == "binary_little_endian") {
            header.format = Format::BinaryLittle;
        } else if (w[1] == "binary_big_endian") {
            header.format = Format::BinaryBig;
        } else {
            failLine(lineNo, "unknown format '" + shown(w[1]) + "'");
        }
        if (w[2] != "1.0")
            failLine(lineNo, "unsupported format version '" + shown(w[2]) + "'");
    }

    void readElement(const std::vector<std::string_view>& w, long long lineNo) {
        if (w.size() != 3)
            failLine(lineNo, "element line must be 'element <name> <count>'");
        Element e;
        e.name = std::string(w[1]);
        e.line = lineNo;
        const auto parsed = std::from_chars(w[2].data(), w[2].data() + w[2].size(), e.count);
        if (parsed.ec == std::errc::result_out_of_range &&
            parsed.ptr == w[2].data() + w[2].size()) {
            failLine(lineNo, "element count '" + shown(w[2]) + "' is too large");
        }
        if (parsed.ec != std::errc() || parsed.ptr != w[2].data() + w[2].size()) {
            failLine(lineNo, "element count '" + shown(w[2]) + "' is not a whole number");
        }
        refuseNul(e.name, lineNo, "element name");
        // Sets rather than scans, so that a header of many names is read in linear time.
        if (!elementNames.insert(e.name).second)
            failLine(lineNo, "element '" + e.name + "' declared twice");
        propertyNames.clear();
        if (e.name == "vertex")
            e.kind = ElementKind::Vertex;
        if (e.name == "face")
            e.kind = ElementKind::Face;
        header.elements.push_back(std::move(e));
    }

    void readProperty(const std::vector<std::string_view>& w, long long lineNo) {
        if (header.elements.empty())
            failLine(lineNo, "property before any element");
        Element& e = header.elements.back();
        Property p;
        if (w.size() >= 2 && w[1] == "list") {
            if (w.size() != 5) {
                failLine(lineNo,
                         "list property line must be 'property list <count type> "
                         "<value type> <name>'");
            }
            p.isList = true;
            if (!parseScalar(w[2], p.countType) && w[2] != "list") {
                failLine(lineNo, "unknown property type '" + shown(w[2]) + "'");
            }
            if (w[2] == "list" || !isInteger(p.countType)) {
                failLine(lineNo, "list count type '" + shown(w[2]) + "' is not an integer type");
            }
            if (!parseScalar(w[3], p.type)) {
                failLine(lineNo, "unknown property type '" + shown(w[3]) + "'");
            }
            p.name = std::string(w[4]);
        } else {
            if (w.size() != 3)
                failLine(lineNo, "property line must be 'property <type> <name>'");
            if (!parseScalar(w[1], p.type)) {
                failLine(lineNo, "unknown property type '" + shown(w[1]) + "'");
            }
            p.name = std::string(w[2]);
        }
        refuseNul(p.name, lineNo, "property name");
        if (!propertyNames.insert(p.name).second)
            failLine(lineNo, "property '" + p.name + "' declared twice in '" + e.name + "'");
        assignRole(e, p, lineNo);
        e.properties.push_back(std::move(p));
    }

    void assignRole(const Element& e, Property& p, long long lineNo) const {
        const std::string& n = p.name;
        if (e.kind == ElementKind::Vertex) {
            if (n == "x")
                p.role = Role::X;
            if (n == "y")
                p.role = Role::Y;
            if (n == "z")
                p.role = Role::Z;
            if (n == "red" || n == "diffuse_red")
                p.role = Role::Red;
            if (n == "green" || n == "diffuse_green")
                p.role = Role::Green;
            if (n == "blue" || n == "diffuse_blue")
                p.role = Role::Blue;
        } else if (e.kind == ElementKind::Face) {
            if (n == "vertex_indices" || n == "vertex_index")
                p.role = Role::Indices;
            if (n == "red" || n == "diffuse_red")
                p.role = Role::Red;
            if (n == "green" || n == "diffuse_green")
                p.role = Role::Green;
            if (n == "blue" || n == "diffuse_blue")
                p.role = Role::Blue;
        }
        if (p.role == Role::Indices) {
            if (!p.isList)
                failLine(lineNo, "property '" + n + "' must be a list");
            if (!isInteger(p.type)) {
                failLine(lineNo, "property '" + n + "' must hold integers");
            }
        } else if (p.role != Role::Skip && p.isList) {
            failLine(lineNo, "property '" + n + "' of '" + e.name + "' must not be a list");
        }
        // Only the few properties with a role are compared, so this stays linear too.
        if (p.role != Role::Skip) {
            for (const Property& other : e.properties) {
                if (other.role == p.role)
                    failLine(lineNo, "property '" + n + "' repeats '" + other.name + "'");
            }
        }
    }

    void checkElements() {
        for (Element& e : header.elements) {
            if (e.count > 0 && e.properties.empty()) {
                failLine(e.line, "element '" + e.name + "' has rows but no properties");
            }
            int coords = 0;
            int colours = 0;
            bool indices = false;
            for (const Property& p : e.properties) {
                coords += p.role == Role::X || p.role == Role::Y || p.role == Role::Z;
                colours += p.role == Role::Red || p.role == Role::Green || p.role == Role::Blue;
                indices = indices || p.role == Role::Indices;
            }
            if (e.kind == ElementKind::Vertex && coords != 3) {
                failLine(e.line, "element 'vertex' needs properties x, y and z");
            }
            if (e.kind == ElementKind::Face && !indices) {
                failLine(e.line, "element 'face' needs a list property 'vertex_indices'");
            }
            if (colours == 3) {
                e.hasColour = true;
            } else if (colours > 0) {
                notes.push_back(name + ": " + (e.kind == ElementKind::Vertex ? "vertex" : "face") +
                                " colours need red, green and blue; the partial colour is ignored");
                for (Property& p : e.properties) {
                    if (p.role != Role::X && p.role != Role::Y && p.role != Role::Z &&
                        p.role != Role::Indices) {
                        p.role = Role::Skip;
                    }
                }
            }
            if (e.kind == ElementKind::Vertex) {
                vertex = &e;
                pointCount = e.count;
            }
            if (e.kind == ElementKind::Face)
                face = &e;
        }
    }

    // Settles where colours come from, and refuses element sizes that the file cannot hold.
    void prepare() {
        const bool faceColours = face && face->hasColour;
        const bool vertexColours = vertex && vertex->hasColour;
        useVertexColours = vertexColours && (options.vertexColours || !faceColours);
        if (faceColours && vertexColours && !options.vertexColours) {
            notes.push_back(name +
                            ": faces have colours of their own; vertex colours are not used "
                            "(--vertex-colours uses them)");
        }
        if (options.vertexColours && !vertexColours) {
            notes.push_back(name + ": no vertex colours, so --vertex-colours changes nothing");
        }
        storeColour = faceColours || useVertexColours;
        // With the points read first, each face votes as it is built, while its indices are at
        // hand; otherwise finish() votes once the points are known.
        voteWhileBuilding = useVertexColours && face && vertex < face;
        packedVertexColours = useVertexColours;
        for (std::size_t i = 0; useVertexColours && i < vertex->properties.size(); ++i) {
            const Property& p = vertex->properties[i];
            if (p.role == Role::Red || p.role == Role::Green || p.role == Role::Blue)
                packedVertexColours = packedVertexColours && p.type == Scalar::UInt8;
        }
        for (int v = 0; v < 256; ++v)
            detail::narrowToFloat(v / 255.0, byteColour[v]);
        checkCounts();
    }

    // Gives an empty detail its colour attribute and room for `vertices` face vertices, now that
    // the element sizes are known to be possible.
    void startDetail(GU_Detail& geo, std::size_t vertices) {
        if (storeColour)
            cdOffset = geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
        if (vertex)
            geo.reservePoints(static_cast<std::size_t>(vertex->count));
        if (face)
            geo.reservePrimitives(static_cast<std::size_t>(face->count), vertices);
        if (packedVertexColours) {
            vertexKeys.reserve(static_cast<std::size_t>(vertex->count));
        } else if (useVertexColours) {
            vertexRgb.reserve(static_cast<std::size_t>(vertex->count) * 3);
        }
    }

    // Refuses declared counts that the bytes after the header cannot hold, before anything is
    // allocated for them.
    void checkCounts() const {
        std::size_t remaining = inputSize - header.dataStart;
        for (const Element& e : header.elements) {
            std::size_t perRow = 0;
            std::size_t allowed = 0;
            if (header.format == Format::Ascii) {
                // Each value takes a character and a separator; the last may lack its separator.
                perRow = 2 * e.properties.size();
                allowed = perRow == 0 ? 0 : (remaining + 1) / perRow;
            } else {
                perRow = e.minBinaryRow();
                allowed = perRow == 0 ? 0 : remaining / perRow;
            }
            if (e.count > allowed) {
                failLine(e.line, "element '" + e.name + "' declares " +
                                     detail::countOf(e.count, "row", "rows") +
                                     " but the file has room for at most " +
                                     std::to_string(allowed));
            }
            remaining -=
                std::min<std::size_t>(remaining, static_cast<std::size_t>(e.count) * perRow);
        }
    }

    // One row as read, then as stored. Both encodings fill it through take() and settle(), so a
    // row is refused for the same faults, in the same order, whatever the encoding.
    struct Row {
        double xyz[3] = {0.0, 0.0, 0.0};
        double rgb[3] = {0.0, 0.0, 0.0};
        double rawRgb[3] = {0.0, 0.0, 0.0};  // as written, before scaling
        std::vector<unsigned> indices;
        float position[3] = {0.0f, 0.0f, 0.0f};
        float colour[3] = {0.0f, 0.0f, 0.0f};
    };

    // Folds one property value into the row. `failHere` gives a place to failures.
    template <typename Fail>
    void take(const Property& p, double value, Row& row, Fail&& failHere) const {
        switch (p.role) {
            case Role::X:
            case Role::Y:
            case Role::Z:
                row.xyz[static_cast<int>(p.role) - static_cast<int>(Role::X)] = value;
                break;
            case Role::Red:
            case Role::Green:
            case Role::Blue:
                row.rgb[static_cast<int>(p.role) - static_cast<int>(Role::Red)] =
                    isInteger(p.type) ? value / maxOf(p.type) : value;
                row.rawRgb[static_cast<int>(p.role) - static_cast<int>(Role::Red)] = value;
                break;
            case Role::Indices:
                if (!(value >= 0.0 && value < static_cast<double>(pointCount))) {
                    char buffer[32];
                    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value);
                    const std::string index(buffer, end.ptr);
                    if (value < 0.0)
                        failHere("has negative index " + index);
                    failHere("has index " + index + " but " +
                             detail::thereAre(pointCount, "point", "points"));
                }
                row.indices.push_back(static_cast<unsigned>(value));
                break;
            case Role::Skip:
                break;
        }
    }

    template <typename Fail>
    float toFloat(double value, Fail&& failHere) const {
        float narrowed = 0.0f;
        if (!detail::narrowToFloat(value, narrowed))
            failHere("has a value beyond the float range");
        return narrowed;
    }

    // The checks a complete row must pass before it can be stored, and its values as stored.
    template <typename Fail>
    void settle(const Element& e, Row& row, Fail&& failHere) const {
        if (e.kind == ElementKind::Vertex) {
            for (int i = 0; i < 3; ++i)
                row.position[i] = toFloat(row.xyz[i], failHere);
            if (useVertexColours) {
                for (int i = 0; i < 3; ++i)
                    row.colour[i] = toFloat(row.rgb[i], failHere);
            }
        } else if (e.kind == ElementKind::Face) {
            if (row.indices.empty())
                failHere("has no vertices");
            if (!useVertexColours && storeColour) {
                for (int i = 0; i < 3; ++i)
                    row.colour[i] = toFloat(row.rgb[i], failHere);
            }
        }
    }

    // Appends a settled row.
    void store(const Element& e, const Row& row, GU_Detail& geo) {
        if (e.kind == ElementKind::Vertex) {
            geo.appendPoint(UT_Vector3(row.position[0], row.position[1], row.position[2]));
            if (packedVertexColours) {
                vertexKeys.push_back(packedKey(static_cast<unsigned char>(row.rawRgb[0]),
                                               static_cast<unsigned char>(row.rawRgb[1]),
                                               static_cast<unsigned char>(row.rawRgb[2])));
            } else if (useVertexColours) {
                vertexRgb.insert(vertexRgb.end(), row.colour, row.colour + 3);
            }
        } else if (e.kind == ElementKind::Face) {
            const long long prim =
                geo.appendPrimitive(row.indices.data(), static_cast<unsigned>(row.indices.size()));
            if (voteWhileBuilding) {
                vote(geo, prim, row.indices.data(), row.indices.size());
            } else if (cdOffset >= 0 && !useVertexColours) {
                std::memcpy(geo.primitiveAttribData(prim) + cdOffset, row.colour,
                            sizeof row.colour);
            }
        }
    }

    // ---- Binary ----
    //
    // Binary data is read in one pass through the byte source's window, into a detail of the
    // reader's own that replaces the caller's only once the whole file is known to be good. Each
    // element runs a tight loop for the usual layouts and hands any row such a loop cannot vouch
    // for to readRow(), the one place that words binary faults, so that messages depend neither
    // on which loop met the row nor on where the window's edges fall.

    // Per-element facts worked out once from the header.
    struct Plan {
        enum class Kind { Generic, Fixed, FloatPoints, SingleListFaces };
        Kind kind = Kind::Generic;
        std::size_t rowSize = 0;  // Fixed, FloatPoints: bytes per row
        // FloatPoints: where x, y and z sit in the row.
        std::size_t xyzAt[3] = {0, 0, 0};
        // SingleListFaces: bytes before the list's count and after its last value.
        std::size_t prefix = 0;
        std::size_t suffix = 0;
        Scalar countType = Scalar::UInt8;
        Scalar indexType = Scalar::Int32;
        // Colours wanted from the row (points whose colours faces take, faces with colours of their
        // own): offset from the row's start, or from the list's end when `afterList`.
        bool colours = false;
        bool byteColours = false;  // all three are uchar: converted by table
        std::size_t colourAt[3] = {0, 0, 0};
        bool afterList[3] = {false, false, false};
        Scalar colourType[3] = {Scalar::UInt8, Scalar::UInt8, Scalar::UInt8};
    };

    Plan planFor(const Element& e) const {
        Plan plan;
        int lists = 0;
        for (const Property& p : e.properties)
            lists += p.isList;
        const bool wantsColour = e.kind == ElementKind::Vertex ? useVertexColours
                                 : e.kind == ElementKind::Face ? storeColour && !useVertexColours
                                                               : false;
        std::size_t at = 0;
        bool afterList = false;
        bool floatCoords = true;
        bool doubleColour = false;
        for (const Property& p : e.properties) {
            if (p.isList) {
                plan.prefix = at;
                plan.countType = p.countType;
                plan.indexType = p.type;
                at = 0;
                afterList = true;
                continue;
            }
            if (p.role == Role::X || p.role == Role::Y || p.role == Role::Z) {
                plan.xyzAt[static_cast<int>(p.role) - static_cast<int>(Role::X)] = at;
                floatCoords = floatCoords && p.type == Scalar::Float32;
            }
            if (wantsColour &&
                (p.role == Role::Red || p.role == Role::Green || p.role == Role::Blue)) {
                const int c = static_cast<int>(p.role) - static_cast<int>(Role::Red);
                plan.colourAt[c] = at;
                plan.afterList[c] = afterList;
                plan.colourType[c] = p.type;
                doubleColour = doubleColour || p.type == Scalar::Float64;
            }
            at += sizeOf(p.type);
        }
        plan.colours = wantsColour;
        plan.byteColours = wantsColour && plan.colourType[0] == Scalar::UInt8 &&
                           plan.colourType[1] == Scalar::UInt8 &&
                           plan.colourType[2] == Scalar::UInt8;
        // A double may not fit a float, so only readRow() may take double colours.
        if (e.kind == ElementKind::Vertex && lists == 0 && floatCoords && !doubleColour) {
            plan.kind = Plan::Kind::FloatPoints;
            plan.rowSize = at;
        } else if (e.kind == ElementKind::Face && lists == 1 && !doubleColour) {
            plan.kind = Plan::Kind::SingleListFaces;
            plan.suffix = at;
        } else if (e.kind == ElementKind::Other && lists == 0) {
            plan.kind = Plan::Kind::Fixed;
            plan.rowSize = at;
        }
        return plan;
    }

    // Reads row `r` of `e` at `pos` with every check, into `row`; returns where the next row
    // starts. Throws for any fault, naming the byte of the row or value at fault.
    std::size_t readRow(const Element& e, std::uint64_t r, std::size_t pos, Row& row) {
        const std::size_t rowStart = pos;
        const auto failHere = [&](const std::string& what) {
            failByte(rowStart, e.row(r) + " " + what);
        };
        row.indices.clear();
        for (const Property& p : e.properties) {
            const std::size_t countSize = p.isList ? sizeOf(p.countType) : 1;
            const unsigned char* at = source.need(pos, p.isList ? countSize : sizeOf(p.type));
            if (!at)
                failByte(pos, "file ends inside " + e.row(r));
            if (!p.isList) {
                take(p, decode(p.type, at), row, failHere);
                pos += sizeOf(p.type);
                continue;
            }
            const double count = decode(p.countType, at);
            if (count < 0.0)
                failByte(pos, e.row(r) + " has a negative list count");
            pos += countSize;
            const std::size_t valueSize = sizeOf(p.type);
            const auto n = static_cast<std::size_t>(count);
            // Values that are not used need not be held, only known to be there.
            const bool used = p.role == Role::Indices;
            const unsigned char* values =
                used ? source.need(pos, n * valueSize) : source.need(pos + n * valueSize, 0);
            if (!values) {
                failByte(pos, "file ends inside " + e.row(r) + " (list of " + std::to_string(n) +
                                  " values)");
            }
            for (std::size_t i = 0; used && i < n; ++i)
                take(p, decode(p.type, values + i * valueSize), row, failHere);
            pos += n * valueSize;
        }
        settle(e, row, failHere);
        return pos;
    }

    double decode(Scalar t, const unsigned char* p) const {
        return swapBytes ? decodeAs<true>(t, p) : decodeAs<false>(t, p);
    }

    // A colour value as stored: integers scaled to [0, 1] (by table for uchar), floats as they
    // are. Never called for doubles, which may not fit.
    float colourAt(Scalar t, const unsigned char* p) const {
        if (t == Scalar::UInt8)
            return byteColour[*p];
        const double value = decode(t, p);
        float narrowed = 0.0f;
        detail::narrowToFloat(isInteger(t) ? value / maxOf(t) : value, narrowed);
        return narrowed;
    }

    void readColours(const Plan& plan, const unsigned char* row, const unsigned char* listEnd,
                     float rgb[3]) const {
        for (int c = 0; c < 3; ++c) {
            rgb[c] = colourAt(plan.colourType[c],
                              (plan.afterList[c] ? listEnd : row) + plan.colourAt[c]);
        }
    }

    void readBinary(GU_Detail& geo) {
        swapBytes = (header.format == Format::BinaryLittle) != hostIsLittleEndian();
        startDetail(geo, vertexBound());
        std::size_t pos = header.dataStart;
        for (const Element& e : header.elements)
            pos = readElement(e, planFor(e), pos, geo);
        const std::size_t extra = source.countFrom(pos);
        if (extra > 0)
            failByte(pos, detail::countOf(extra, "byte", "bytes") + " after the last element");
    }

    // Most face vertices the input can hold, so that the detail's vertex list is allocated
    // once without a pass to count them. Only a bound: a file that grows meanwhile costs a
    // regrowth, nothing more.
    std::size_t vertexBound() const {
        if (!face)
            return 0;
        // checkCounts() has made sure that every element's fewest bytes fit the input.
        std::size_t fixed = 0;
        for (const Element& e : header.elements)
            fixed += static_cast<std::size_t>(e.count) * e.minBinaryRow();
        const std::size_t room = inputSize - header.dataStart;
        if (room < fixed)
            return 0;
        for (const Property& p : face->properties) {
            if (p.role != Role::Indices)
                continue;
            const std::size_t bound = (room - fixed) / sizeOf(p.type);
            // No face lists more vertices than its count type can say.
            const double most = static_cast<double>(face->count) * maxOf(p.countType);
            return most < static_cast<double>(bound) ? static_cast<std::size_t>(most) : bound;
        }
        return 0;
    }

    // One element, every row checked and stored. Returns where the next element starts.
    std::size_t readElement(const Element& e, const Plan& plan, std::size_t pos, GU_Detail& geo) {
        switch (plan.kind) {
            case Plan::Kind::Fixed:
                // Nothing in such rows can be wrong but their number.
                return wholeRows(e, plan.rowSize, pos, geo,
                                 [](const unsigned char*, std::size_t) {});
            case Plan::Kind::FloatPoints:
                return wholeRows(e, plan.rowSize, pos, geo,
                                 [&](const unsigned char* rows, std::size_t n) {
                                     if (swapBytes) {
                                         buildPoints<true>(plan, rows, n, geo);
                                     } else {
                                         buildPoints<false>(plan, rows, n, geo);
                                     }
                                 });
            case Plan::Kind::SingleListFaces:
                return withListTypes(plan, [&](auto count, auto index, auto swap) {
                    return readFaces<decltype(count), decltype(index), decltype(swap)::value>(
                        e, plan, pos, geo);
                });
            case Plan::Kind::Generic:
                break;
        }
        Row row;
        for (std::uint64_t r = 0; r < e.count; ++r) {
            pos = readRow(e, r, pos, row);
            store(e, row, geo);
        }
        return pos;
    }

    // Rows of `rowSize` bytes that cannot be wrong once whole: hands `batch` runs of them as the
    // window holds them; a row cut short goes to readRow(), which says where.
    template <typename Batch>
    std::size_t wholeRows(const Element& e, std::size_t rowSize, std::size_t pos, GU_Detail& geo,
                          Batch&& batch) {
        Row row;
        for (std::uint64_t r = 0; r < e.count;) {
            const unsigned char* at = source.need(pos, rowSize);
            if (!at || rowSize == 0) {
                pos = readRow(e, r, pos, row);
                store(e, row, geo);
                ++r;
                continue;
            }
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(e.count - r, source.heldFrom(pos) / rowSize));
            batch(at, n);
            pos += n * rowSize;
            r += n;
        }
        return pos;
    }

    // Calls `f(CountT{}, IndexT{}, std::bool_constant<swap>{})` with the C++ types of the plan's
    // list, so that the face loops read counts and indices without a switch per value.
    template <typename F>
    std::size_t withListTypes(const Plan& plan, F&& f) const {
        return withInteger(plan.countType, [&](auto count) {
            return withInteger(plan.indexType, [&](auto index) {
                if (swapBytes)
                    return f(count, index, std::true_type{});
                return f(count, index, std::false_type{});
            });
        });
    }

    template <typename F>
    static std::size_t withInteger(Scalar t, F&& f) {
        switch (t) {
            case Scalar::Int8:
                return f(std::int8_t{});
            case Scalar::UInt8:
                return f(std::uint8_t{});
            case Scalar::Int16:
                return f(std::int16_t{});
            case Scalar::UInt16:
                return f(std::uint16_t{});
            case Scalar::Int32:
                return f(std::int32_t{});
            default:  // the header allows nothing but integers for counts and indices
                return f(std::uint32_t{});
        }
    }

    // Loads a face's `n` indices into `out`; false when one is not a point's.
    template <typename IndexT, bool Swap>
    bool loadIndices(const unsigned char* at, std::size_t n, std::vector<unsigned>& out) const {
        if (out.size() < n)
            out.resize(n);
        bool good = true;
        for (std::size_t i = 0; i < n; ++i) {
            const IndexT index = load<IndexT, Swap>(at + i * sizeof(IndexT));
            // No early exit: the loop stays branch-free, and bad files are rare.
            if constexpr (std::is_signed_v<IndexT>)
                good &= index >= 0;
            good &= static_cast<std::uint64_t>(index) < pointCount;
            out[i] = static_cast<unsigned>(index);
        }
        return good;
    }

    template <typename CountT, typename IndexT, bool Swap>
    std::size_t readFaces(const Element& e, const Plan& plan, std::size_t pos, GU_Detail& geo) {
        // Locals, not members, so that they stay in registers across the calls into the detail.
        const std::size_t prefix = plan.prefix;
        const std::size_t head = prefix + sizeof(CountT);
        const std::size_t suffix = plan.suffix;
        const bool byColourTable = plan.colours && plan.byteColours;
        const bool otherColours = plan.colours && !plan.byteColours;
        const std::size_t at[3] = {plan.colourAt[0], plan.colourAt[1], plan.colourAt[2]};
        const bool after[3] = {plan.afterList[0], plan.afterList[1], plan.afterList[2]};
        const int cd = cdOffset;
        const bool voting = voteWhileBuilding;
        std::vector<unsigned>& indices = scratch;
        Row slow;
        // The bytes at `pos`, `held` of them: most rows are taken from them without a request.
        const unsigned char* row = nullptr;
        std::size_t held = 0;
        for (std::uint64_t r = 0; r < e.count; ++r) {
            if (held < head) {
                row = source.need(pos, head);
                held = row ? source.heldFrom(pos) : 0;
            }
            std::size_t n = 0;
            std::size_t rowSize = 0;
            if (row) {
                const CountT count = load<CountT, Swap>(row + prefix);
                // Zero and negative counts are faults; readRow() words them.
                n = count > 0 ? static_cast<std::size_t>(count) : 0;
                rowSize = head + n * sizeof(IndexT) + suffix;
                if (n > 0 && held < rowSize) {
                    row = source.need(pos, rowSize);
                    held = row ? source.heldFrom(pos) : 0;
                }
            }
            if (n == 0 || !row || !loadIndices<IndexT, Swap>(row + head, n, indices)) {
                pos = readRow(e, r, pos, slow);
                store(e, slow, geo);
                held = 0;
                continue;
            }
            const unsigned char* listEnd = row + head + n * sizeof(IndexT);
            float rgb[3];
            if (byColourTable) {
                for (int c = 0; c < 3; ++c)
                    rgb[c] = byteColour[(after[c] ? listEnd : row)[at[c]]];
            } else if (otherColours) {
                readColours(plan, row, listEnd, rgb);
            }
            const long long prim = geo.appendPrimitive(indices.data(), static_cast<unsigned>(n));
            if (plan.colours) {
                std::memcpy(geo.primitiveAttribData(prim) + cd, rgb, sizeof rgb);
            } else if (voting) {
                vote(geo, prim, indices.data(), n);
            }
            pos += rowSize;
            row += rowSize;
            held -= rowSize;
            if ((r + 1) % detail::kProgressStep == 0)
                detail::reportProgress(r + 1, e.count);
        }
        return pos;
    }

    template <bool Swap>
    void buildPoints(const Plan& plan, const unsigned char* row, std::size_t rows, GU_Detail& geo) {
        for (std::size_t r = 0; r < rows; ++r, row += plan.rowSize) {
            geo.appendPoint(UT_Vector3(load<float, Swap>(row + plan.xyzAt[0]),
                                       load<float, Swap>(row + plan.xyzAt[1]),
                                       load<float, Swap>(row + plan.xyzAt[2])));
            if (packedVertexColours) {
                vertexKeys.push_back(
                    packedKey(row[plan.colourAt[0]], row[plan.colourAt[1]], row[plan.colourAt[2]]));
            } else if (plan.colours) {
                float rgb[3];
                readColours(plan, row, row, rgb);
                vertexRgb.insert(vertexRgb.end(), rgb, rgb + 3);
            }
        }
    }

    // ---- ASCII ----

    template <typename Fail>
    double parseToken(std::string_view token, Scalar type, Fail&& failHere) const {
        const char* first = token.data();
        const char* last = token.data() + token.size();
        if (first != last && *first == '+')
            ++first;
        if (isInteger(type)) {
            long long value = 0;
            const auto r = std::from_chars(first, last, value);
            if (r.ec == std::errc::result_out_of_range) {
                failHere("value '" + shown(token) + "' is out of range");
            }
            if (r.ec != std::errc() || r.ptr != last) {
                failHere("value '" + shown(token) + "' is not an integer");
            }
            const auto asDouble = static_cast<double>(value);
            if (asDouble < minOf(type) || asDouble > maxOf(type)) {
                failHere("value '" + shown(token) + "' is out of range for its type");
            }
            return asDouble;
        }
        double value = 0.0;
        const auto r = std::from_chars(first, last, value);
        if (r.ec == std::errc::result_out_of_range) {
            failHere("value '" + shown(token) + "' is out of range");
        }
        if (r.ec != std::errc() || r.ptr != last) {
            failHere("value '" + shown(token) + "' is not a number");
        }
        return value;
    }

    void readAscii(GU_Detail& geo) {
        std::size_t pos = header.dataStart;
        long long lineNo = header.dataLine - 1;
        std::string_view line;
        std::vector<std::string_view> tokens;
        Row row;
        // Reads the next non-blank line into `tokens`; false at the end of the file.
        const auto nextRow = [&]() {
            while (nextLine(pos, line)) {
                ++lineNo;
                detail::splitWords(line, tokens);
                if (!tokens.empty())
                    return true;
            }
            return false;
        };
        for (const Element& e : header.elements) {
            for (std::uint64_t r = 0; r < e.count; ++r) {
                if (!nextRow())
                    failLine(std::max(lineNo, 1LL), "file ends before " + e.row(r));
                const auto failHere = [&](const std::string& what) {
                    failLine(lineNo, e.row(r) + " " + what);
                };
                row.indices.clear();
                std::size_t t = 0;
                const auto next = [&]() {
                    if (t >= tokens.size())
                        failHere("has too few values");
                    return tokens[t++];
                };
                for (const Property& p : e.properties) {
                    if (!p.isList) {
                        take(p, parseToken(next(), p.type, failHere), row, failHere);
                        continue;
                    }
                    const double count = parseToken(next(), p.countType, failHere);
                    if (count < 0.0)
                        failHere("has a negative list count");
                    if (count > static_cast<double>(tokens.size() - t)) {
                        failHere("has too few values");
                    }
                    const auto n = static_cast<std::size_t>(count);
                    for (std::size_t i = 0; i < n; ++i) {
                        take(p, parseToken(next(), p.type, failHere), row, failHere);
                    }
                }
                if (t != tokens.size())
                    failHere("has too many values");
                settle(e, row, failHere);
                store(e, row, geo);
            }
        }
        if (nextRow())
            failLine(lineNo, "data after the last element");
    }

    // Gives face `prim` the colour most of its corners share. Every point has a colour here,
    // so some corner always wins.
    void vote(GU_Detail& geo, long long prim, const unsigned* corners, std::size_t count) {
        unsigned char* cd = geo.primitiveAttribData(prim) + cdOffset;
        if (packedVertexColours) {
            const colour::VoteResult result = voter.vote(vertexKeys.data(), corners, count);
            colourSource.ties += result.tie;
            const std::uint32_t key = vertexKeys[corners[result.winner]];
            const float rgb[3] = {byteColour[key & 0xff], byteColour[(key >> 8) & 0xff],
                                  byteColour[key >> 16]};
            std::memcpy(cd, rgb, sizeof rgb);
            return;
        }
        const colour::VoteResult result = voter.vote(vertexRgb.data(), corners, count);
        colourSource.ties += result.tie;
        std::memcpy(cd, &vertexRgb[3 * corners[result.winner]], 3 * sizeof(float));
    }

    static std::uint32_t packedKey(unsigned char r, unsigned char g, unsigned char b) {
        return r | static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b) << 16;
    }

    // Colours faces from their corners when a file lists its faces before its points, and
    // counts where the colours came from.
    void finish(GU_Detail& geo) {
        const long long faces = geo.primitiveCount();
        colourSource.cornersFirst = options.vertexColours;
        if (useVertexColours) {
            if (!voteWhileBuilding) {
                const GB_PrimitiveList& list = geo.primitives();
                for (long long i = 0; i < faces; ++i) {
                    const GB_Primitive& prim = *list(i);
                    vote(geo, i, geo.primitiveVertices(prim), prim.vertexCount);
                }
            }
            colourSource.cornerColour = faces;
            if (faces > 0)
                notes.push_back(detail::cornerColourNote(name, faces, colourSource.ties));
        } else if (storeColour) {
            colourSource.ownColour = faces;
        } else {
            colourSource.noColour = faces;
        }
        if (faces == 0) {
            const std::string why =
                !face ? "the file has no 'face' element" : "the 'face' element has no rows";
            notes.push_back(detail::noFacesNote(name, why, vertex && vertex->hasColour));
        }
    }

    ByteSource& source;
    std::string_view bytes;     // the header; all of the input when it is read whole
    std::size_t inputSize = 0;  // as far as it can be told before the data is read
    const std::string& name;
    const ReadOptions& options;
    Header header;
    std::unordered_set<std::string> elementNames;
    std::unordered_set<std::string> propertyNames;  // of the last element
    Notes notes;
    ColourSource colourSource;
    bool headerDone = false;
    long long unknownLines = 0;  // header lines without a keyword, read as comments
    long long firstUnknownLine = 0;
    std::string firstUnknownKey;
    const Element* vertex = nullptr;
    const Element* face = nullptr;
    std::uint64_t pointCount = 0;
    bool swapBytes = false;
    bool useVertexColours = false;
    bool voteWhileBuilding = false;
    bool packedVertexColours = false;  // uchar vertex colours, kept as they are written
    bool storeColour = false;          // faces get "Cd"
    int cdOffset = -1;
    float byteColour[256] = {};     // uchar colour values as stored
    std::vector<unsigned> scratch;  // indices of one face
    // The colours faces take from their corners: three floats per point, or one packed key per
    // point for uchar colours, whose equal colours are then equal keys.
    std::vector<float> vertexRgb;
    std::vector<std::uint32_t> vertexKeys;
    colour::CornerVoter voter;
};

}  // namespace

Notes readPly(std::string_view bytes, const std::string& name, GU_Detail& out,
              const ReadOptions& options, ColourSource* source) {
    detail::ByteSource input(bytes);
    return PlyReader(input, name, options).read(out, source);
}

Notes readPlyFile(const std::string& path, GU_Detail& out, const ReadOptions& options,
                  ColourSource* source) {
    return detail::readPlyFileThroughWindow(path, detail::kPlyWindow, out, options, source);
}

namespace detail {

Notes readPlyFileThroughWindow(const std::string& path, std::size_t window, GU_Detail& out,
                               const ReadOptions& options, ColourSource* source) {
    InputFile file(path);
    ByteSource input(file, window);
    return PlyReader(input, path, options).read(out, source);
}

}  // namespace detail

}  // namespace hueslice::io
