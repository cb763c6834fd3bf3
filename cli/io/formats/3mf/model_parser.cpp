#include "io/formats/3mf/model_parser.h"

#include <expat.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "io/formats/3mf/placement.h"
#include "io/io.h"

namespace hueslice::io::detail {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Where the element's context is, for the start of its children.
enum class In {
    top,
    model,
    resources,
    object,
    mesh,
    vertices,
    triangles,
    components,
    group,
    build,
    ignored
};

}  // namespace

struct ModelParser::State {
    State(ModelPart& p, DefinedTotals& d, const std::string& n)
        : part(p), defined(d), name(n), parser(XML_ParserCreate(nullptr)) {}
    ~State() {
        if (parser)
            XML_ParserFree(parser);
    }

    ModelPart& part;
    DefinedTotals& defined;
    const std::string& name;
    XML_Parser parser;
    std::vector<In> stack;
    const XML_Char** attributes = nullptr;  // of the element being started
    std::string_view elementName;           // its name without prefix
    Object* object = nullptr;               // the object being read
    PropertyGroup* group = nullptr;
    const char* colourAttribute = nullptr;
    std::string error;  // set by a handler, which stops the parser; thrown once it returns

    // Expat is C: a handler records the fault and stops the parser rather than throwing
    // through its frames.
    void fail(const std::string& fault) {
        if (error.empty()) {
            error = name + ": " + part.label + ": line " +
                    std::to_string(XML_GetCurrentLineNumber(parser)) + ": " + fault;
        }
        XML_StopParser(parser, XML_FALSE);
    }

    const XML_Char* attribute(std::string_view wanted) const {
        for (const XML_Char** a = attributes; *a; a += 2) {
            if (localName(a[0]) == wanted)
                return a[1];
        }
        return nullptr;
    }

    // A whole number of 0 to 2^31 - 1, the range of 3MF's ids and indices.
    bool index(std::string_view what, std::uint32_t& out, bool required) {
        const XML_Char* text = attribute(what);
        if (!text) {
            if (required)
                fail("<" + std::string(elementName) + "> has no " + std::string(what));
            return false;
        }
        const std::string_view value = trimmed(text);
        unsigned long long n = 0;
        const auto r = std::from_chars(value.data(), value.data() + value.size(), n);
        if (r.ec != std::errc() || r.ptr != value.data() + value.size() || n > 0x7FFFFFFFu) {
            fail(std::string(what) + "=\"" + printable(text) +
                 "\" is not a whole number from 0 to 2147483647");
            return false;
        }
        out = static_cast<std::uint32_t>(n);
        return true;
    }

    // A decimal number as a float, as 3MF stores them; beyond float's range it becomes an
    // infinity, which placing refuses with the object named.
    bool number(std::string_view text, float& out) {
        text = trimmed(text);
        if (!text.empty() && text.front() == '+')
            text.remove_prefix(1);
        double value = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
        if (r.ptr != text.data() + text.size() || text.empty())
            return false;
        if (r.ec == std::errc::result_out_of_range) {
            // Too small becomes zero, too large an infinity of its sign.
            const auto e = text.find_first_of("eE");
            const bool tiny =
                e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
            const float magnitude = tiny ? 0.0f : std::numeric_limits<float>::infinity();
            out = text.front() == '-' ? -magnitude : magnitude;
            return true;
        }
        if (r.ec != std::errc())
            return false;
        if (std::fabs(value) > static_cast<double>(FLT_MAX))
            out = value < 0 ? -std::numeric_limits<float>::infinity()
                            : std::numeric_limits<float>::infinity();
        else
            out = static_cast<float>(value);
        return true;
    }

    void coordinate(std::string_view what, float& out) {
        const XML_Char* text = attribute(what);
        if (!text)
            fail("<vertex> has no " + std::string(what));
        else if (!number(text, out))
            fail(std::string(what) + "=\"" + printable(text) + "\" is not a number");
    }

    // Twelve numbers, the rows of a 3x4 matrix in 3MF's order (column by column of 3).
    void transform(Affine& out) {
        const XML_Char* text = attribute("transform");
        if (!text)
            return;
        std::string_view rest = text;
        float values[12];
        int count = 0;
        while (true) {
            rest = trimmed(rest);
            if (rest.empty())
                break;
            const auto end = rest.find_first_of(" \t\r\n");
            const std::string_view word = rest.substr(0, end);
            if (count == 12 || !number(word, values[count])) {
                count = -1;
                break;
            }
            ++count;
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        }
        if (count != 12) {
            fail("transform=\"" + printable(text) + "\" is not twelve numbers");
            return;
        }
        for (int c = 0; c < 4; ++c) {
            for (int r = 0; r < 3; ++r)
                out.m[r][c] = values[3 * c + r];
        }
    }

    // "#RRGGBB" or "#RRGGBBAA" (alpha ignored).
    void colour(std::array<float, 3>& rgb) {
        const XML_Char* text = attribute(colourAttribute);
        const std::string_view value = text ? trimmed(text) : std::string_view();
        bool ok = (value.size() == 7 || value.size() == 9) && value[0] == '#';
        for (std::size_t c = 0; ok && c < 3; ++c) {
            unsigned byte = 0;
            const char* from = value.data() + 1 + 2 * c;
            const auto r = std::from_chars(from, from + 2, byte, 16);
            ok = r.ec == std::errc() && r.ptr == from + 2;
            rgb[c] = static_cast<float>(byte) / 255.0f;
        }
        if (ok && value.size() == 9) {
            unsigned alpha = 0;
            const auto r = std::from_chars(value.data() + 7, value.data() + 9, alpha, 16);
            ok = r.ec == std::errc() && r.ptr == value.data() + 9;
        }
        if (!ok) {
            fail(std::string(colourAttribute) + "=\"" + (text ? printable(text) : "") +
                 "\" is not a colour #RRGGBB or #RRGGBBAA");
        }
    }

    void placement(std::vector<Placement>& into) {
        Placement p;
        if (!index("objectid", p.objectId, true))
            return;
        if (const XML_Char* path = attribute("path"))
            p.path = path;
        transform(p.transform);
        into.push_back(std::move(p));
    }

    void startObject() {
        std::uint32_t id = 0;
        if (!index("id", id, true))
            return;
        if (!part.objectById.emplace(id, part.objects.size()).second) {
            fail("object " + std::to_string(id) + " is defined twice");
            return;
        }
        part.objects.emplace_back();
        object = &part.objects.back();
        object->id = id;
        if (const XML_Char* n = attribute("name"))
            object->name = n;
        if (index("pid", object->pid, false))
            index("pindex", object->pindex, false);
    }

    void startGroup(std::string_view kind) {
        std::uint32_t id = 0;
        if (!index("id", id, true))
            return;
        const auto added = part.groups.emplace(id, PropertyGroup{});
        if (!added.second) {
            fail("property group " + std::to_string(id) + " is defined twice");
            return;
        }
        group = &added.first->second;
        colourAttribute = kind == "basematerials" ? "displaycolor"
                          : kind == "colorgroup"  ? "color"
                                                  : nullptr;
        group->hasColours = colourAttribute != nullptr;
    }

    // Counts one more vertex or triangle of the package; false, with the fault, past the most
    // that placing could ever use.
    bool countDefined(unsigned long long& total, const char* what) {
        if (++total <= kMaxPlaced)
            return true;
        fail("the model defines more than " + std::to_string(kMaxPlaced) + " " + what);
        return false;
    }

    void vertex() {
        if (!countDefined(defined.vertices, "vertices"))
            return;
        float xyz[3] = {0, 0, 0};
        coordinate("x", xyz[0]);
        coordinate("y", xyz[1]);
        coordinate("z", xyz[2]);
        object->vertices.insert(object->vertices.end(), xyz, xyz + 3);
    }

    void triangle() {
        if (!countDefined(defined.triangles, "triangles"))
            return;
        Triangle t;
        const bool ok =
            index("v1", t.v[0], true) && index("v2", t.v[1], true) && index("v3", t.v[2], true);
        if (!ok)
            return;
        index("pid", t.pid, false);
        index("p1", t.p[0], false);
        index("p2", t.p[1], false);
        index("p3", t.p[2], false);
        object->triangles.push_back(t);
    }

    void start(const XML_Char* full, const XML_Char** atts) {
        attributes = atts;
        const std::string_view element = elementName = localName(full);
        const In where = stack.empty() ? In::top : stack.back();
        In next = In::ignored;
        switch (where) {
            case In::top:
                // Expat still reports the end of an empty element after the parser is stopped,
                // so even a refused element takes its place on the stack.
                if (element != "model") {
                    fail("the document is a <" + printable(element) + ">, not a 3MF <model>");
                    break;
                }
                if (const XML_Char* unit = attribute("unit"))
                    part.unit = trimmed(unit);
                next = In::model;
                break;
            case In::model:
                next = element == "resources" ? In::resources
                       : element == "build"   ? In::build
                                              : In::ignored;
                break;
            case In::resources:
                if (element == "object") {
                    startObject();
                    next = In::object;
                } else if (element == "basematerials" || element == "colorgroup" ||
                           element == "texture2dgroup" || element == "compositematerials" ||
                           element == "multiproperties") {
                    startGroup(element);
                    next = In::group;
                }
                break;
            case In::object:
                if (element == "mesh" && object) {
                    object->isMesh = true;
                    next = In::mesh;
                } else if (element == "components" && object) {
                    next = In::components;
                }
                break;
            case In::mesh:
                next = element == "vertices"    ? In::vertices
                       : element == "triangles" ? In::triangles
                                                : In::ignored;
                break;
            case In::vertices:
                if (element == "vertex")
                    vertex();
                break;
            case In::triangles:
                if (element == "triangle")
                    triangle();
                break;
            case In::components:
                if (element == "component")
                    placement(object->components);
                break;
            case In::group:
                if (group) {
                    ++group->entries;
                    if (group->hasColours) {
                        group->colours.push_back({1.0f, 1.0f, 1.0f});
                        colour(group->colours.back());
                    }
                }
                break;
            case In::build:
                if (element == "item")
                    placement(part.items);
                break;
            case In::ignored:
                break;
        }
        stack.push_back(next);
    }

    void end() {
        const In leaving = stack.back();
        stack.pop_back();
        if (leaving == In::object) {
            object = nullptr;
        } else if (leaving == In::group) {
            group = nullptr;
        }
    }

    static void XMLCALL onStart(void* self, const XML_Char* element, const XML_Char** atts) {
        static_cast<State*>(self)->start(element, atts);
    }
    static void XMLCALL onEnd(void* self, const XML_Char*) { static_cast<State*>(self)->end(); }
    static void XMLCALL onDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*,
                                  int) {
        // 3MF packages carry no document type; one is only an entity expansion waiting.
        static_cast<State*>(self)->fail("a document type declaration is not allowed");
    }
};

ModelParser::ModelParser(ModelPart& part, DefinedTotals& defined, const std::string& name)
    : state(std::make_unique<State>(part, defined, name)) {
    if (!state->parser)
        throw std::bad_alloc();
    XML_SetUserData(state->parser, state.get());
    XML_SetElementHandler(state->parser, &State::onStart, &State::onEnd);
    XML_SetStartDoctypeDeclHandler(state->parser, &State::onDoctype);
}

ModelParser::~ModelParser() = default;

void ModelParser::feed(const char* data, std::size_t size, bool last) {
    XML_Parser parser = state->parser;
    // Expat takes an int length, so large inputs go in slices.
    constexpr std::size_t kSlice = 1 << 24;
    do {
        const std::size_t slice = std::min(size, kSlice);
        size -= slice;
        const bool final = last && size == 0;
        if (XML_Parse(parser, data, static_cast<int>(slice), final) != XML_STATUS_OK) {
            if (!state->error.empty())
                throw InputError(state->error);
            if (XML_GetErrorCode(parser) == XML_ERROR_NO_MEMORY)
                throw std::bad_alloc();
            throw InputError(state->name + ": cannot read 3mf: " + state->part.label + ": line " +
                             std::to_string(XML_GetCurrentLineNumber(parser)) + ": " +
                             XML_ErrorString(XML_GetErrorCode(parser)));
        }
        data += slice;
    } while (size > 0);
}

}  // namespace hueslice::io::detail
