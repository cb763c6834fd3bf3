#include "io/formats/ply/header.h"

#include <charconv>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "io/internal.h"

namespace hueslice::io::detail::ply {

namespace {

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

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    detail::splitWords(line, out);
    return out;
}

bool isEndHeader(std::string_view line) {
    const std::vector<std::string_view> w = words(line);
    return !w.empty() && w[0] == "end_header";
}

bool parseScalar(std::string_view word, Scalar& type) {
    for (const ScalarName& s : kScalarNames) {
        if (word == s.name) {
            type = s.type;
            return true;
        }
    }
    return false;
}

// Reads one header into `header`, keeping what the checks between lines need: the names seen so
// far, and the lines that were read as comments for want of a keyword.
class HeaderReader {
  public:
    HeaderReader(std::string_view headerBytes, const std::string& fileName, Header& into,
                 Notes& notesOut)
        : bytes(headerBytes), name(fileName), header(into), notes(notesOut) {}

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
        if (unknownLines > 0) {
            notes.push_back(name + ":" + std::to_string(firstUnknownLine) +
                            ": header line starting '" + shown(firstUnknownKey) +
                            "' has no ply keyword; read as a comment" +
                            (unknownLines > 1
                                 ? " (and " + std::to_string(unknownLines - 1) + " more such lines)"
                                 : ""));
        }
    }

  private:
    [[noreturn]] void failLine(long long line, const std::string& what) const {
        // A header fault may come from a mistyped keyword that was read as a comment.
        const std::string hint =
            firstUnknownLine == 0
                ? std::string()
                : " (line " + std::to_string(firstUnknownLine) + " was read as a comment)";
        ply::failLine(name, line, what + hint);
    }
    // Names are C strings further on, where a NUL would cut them short; no reader takes one.
    void refuseNul(const std::string& text, long long line, const char* what) const {
        if (text.find('\0') != std::string::npos)
            failLine(line, std::string(what) + " holds a NUL byte");
    }

    bool nextLine(std::size_t& pos, std::string_view& line) const {
        return ply::nextLine(bytes, pos, line);
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
            if (e.kind == ElementKind::Vertex)
                header.vertex = &e;
            if (e.kind == ElementKind::Face)
                header.face = &e;
        }
    }

    std::string_view bytes;
    const std::string& name;
    Header& header;
    Notes& notes;
    std::unordered_set<std::string> elementNames;
    std::unordered_set<std::string> propertyNames;  // of the last element
    long long unknownLines = 0;  // header lines without a keyword, read as comments
    long long firstUnknownLine = 0;
    std::string firstUnknownKey;
};

}  // namespace

std::string_view headerBytes(ByteSource& source) {
    std::size_t scanned = 0;  // where the first line not yet seen whole starts
    for (;;) {
        const std::string_view held = source.window();
        std::size_t pos = scanned;
        std::string_view line;
        while (nextLine(held, pos, line) && pos < held.size()) {
            if (isEndHeader(line))
                return held;
            scanned = pos;
        }
        if (!source.more())
            return source.window();
    }
}

void readHeader(std::string_view bytes, const std::string& name, Header& header, Notes& notes) {
    HeaderReader(bytes, name, header, notes).readHeader();
}

std::string shown(std::string_view token) {
    constexpr std::size_t kShown = 24;
    if (token.size() <= kShown)
        return std::string(token);
    return std::string(token.substr(0, kShown)) + "...";
}

void failLine(const std::string& name, long long line, const std::string& what) {
    throw InputError(name + ":" + std::to_string(line) + ": " + what);
}

}  // namespace hueslice::io::detail::ply
