#include "io/text/json_text.h"

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <iterator>
#include <unordered_set>

#include "io/internal.h"
#include "io/io.h"

namespace hueslice::io::detail {

namespace {

// What the parser has read so far, kept up to date by CountingIterator.
struct ReadState {
    const char* begin = nullptr;
    const char* end = nullptr;
    int linesBeforeLast = 0;  // line breaks before the last character read
    int linesThroughLast = 0;
    int lastLine() const { return linesBeforeLast + 1; }
};

bool isLineBreak(const char* p, const char* end) {
    return *p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n'));
}

// A forward iterator over the text that tells ReadState where the parser is, so that callbacks
// and errors can be given a line.
class CountingIterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* at, ReadState* readState) : p(at), state(readState) {}
    reference operator*() const { return *p; }
    CountingIterator& operator++() {
        state->linesBeforeLast = state->linesThroughLast;
        if (isLineBreak(p, state->end))
            ++state->linesThroughLast;
        ++p;
        return *this;
    }
    bool operator==(const CountingIterator& other) const { return p == other.p; }
    bool operator!=(const CountingIterator& other) const { return p != other.p; }

  private:
    const char* p;
    ReadState* state;
};

// Refuses nesting deeper than the limit before the recursive parser sees it.
void checkDepth(std::string_view text, const std::string& name) {
    int depth = 0;
    int line = 1;
    bool inString = false;
    const char* end = text.data() + text.size();
    for (const char* p = text.data(); p != end; ++p) {
        const char c = *p;
        if (isLineBreak(p, end))
            ++line;
        if (inString) {
            if (c == '\\' && p + 1 != end) {
                ++p;
                if (isLineBreak(p, end))
                    ++line;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonDepth) {
                fail(name, line,
                     "nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels");
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

struct Frame {
    bool isObject = false;
    std::string path;
    std::string key;  // last key read, for objects
    std::unordered_set<std::string> keys;
    std::vector<int>* lines = nullptr;  // where element lines go, for recorded arrays
    int depth = 0;
};

std::string childPath(const Frame& parent) {
    if (!parent.isObject)
        return {};
    return parent.path.empty() ? parent.key : parent.path + "/" + parent.key;
}

// The part of nlohmann's message after its own position prefix.
std::string parseErrorText(const char* what) {
    std::string text = what;
    const auto at = text.find("parse error");
    if (at != std::string::npos) {
        const auto colon = text.find(": ", at);
        if (colon != std::string::npos)
            return text.substr(colon + 2);
    }
    const auto bracket = text.find("] ");
    return bracket == std::string::npos ? text : text.substr(bracket + 2);
}

}  // namespace

[[noreturn]] void fail(const std::string& name, int line, const std::string& what) {
    if (line > 0)
        throw InputError(name + ":" + std::to_string(line) + ": " + what);
    throw InputError(name + ": " + what);
}

int ParsedJson::keyLine(const std::string& path) const {
    const auto found = keyLines.find(path);
    return found == keyLines.end() ? 0 : found->second;
}

int ParsedJson::elementLine(const std::string& path, std::size_t index) const {
    const auto found = elementLines.find(path);
    if (found == elementLines.end() || index >= found->second.size())
        return 0;
    return found->second[index];
}

ParsedJson parseJson(std::string_view text, const std::string& name) {
    checkDepth(text, name);
    ParsedJson result;
    ReadState state;
    state.begin = text.data();
    state.end = text.data() + text.size();
    std::vector<Frame> stack;

    const auto noteElement = [&]() {
        if (!stack.empty() && stack.back().lines)
            stack.back().lines->push_back(state.lastLine());
    };
    const auto push = [&](bool isObject) {
        Frame frame;
        frame.isObject = isObject;
        frame.depth = static_cast<int>(stack.size());
        if (!stack.empty())
            frame.path = childPath(stack.back());
        if (!isObject && !stack.empty() && stack.back().isObject && frame.depth <= 3) {
            frame.lines = &result.elementLines[frame.path];
        }
        stack.push_back(std::move(frame));
    };

    const Json::parser_callback_t callback = [&](int, nlohmann::json::parse_event_t event,
                                                 Json& parsed) {
        using Event = nlohmann::json::parse_event_t;
        switch (event) {
            case Event::object_start:
                noteElement();
                push(true);
                break;
            case Event::array_start:
                noteElement();
                push(false);
                break;
            case Event::object_end:
            case Event::array_end:
                if (!stack.empty())
                    stack.pop_back();
                break;
            case Event::key: {
                Frame& top = stack.back();
                const std::string key = parsed.get<std::string>();
                if (!top.keys.insert(key).second) {
                    fail(name, state.lastLine(), "key '" + key + "' appears twice in one object");
                }
                top.key = key;
                if (top.depth < 3) {
                    result.keyLines[top.path.empty() ? key : top.path + "/" + key] =
                        state.lastLine();
                }
                break;
            }
            case Event::value:
                noteElement();
                break;
        }
        return true;
    };

    try {
        result.value = Json::parse(CountingIterator(state.begin, &state),
                                   CountingIterator(state.end, &state), callback);
    } catch (const nlohmann::json::parse_error& e) {
        fail(name, state.lastLine(), "malformed json: " + parseErrorText(e.what()));
    } catch (const nlohmann::json::out_of_range&) {
        // A number too large for a double, such as 1e400: bad input like any other, not a
        // failure of the reader.
        fail(name, state.lastLine(), "number out of range");
    }
    return result;
}

Json floatToJson(float value) {
    const std::string text = floatText(value);
    if (!std::isfinite(value))
        return text;
    // The shortest decimal that reads back to this float, held as the double nearest to it:
    // nlohmann prints that double with the same short digits.
    double asDouble = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), asDouble);
    return asDouble;
}

Json doubleToJson(double value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    return value;
}

bool jsonToDouble(const Json& j, double& value) {
    if (j.is_number()) {
        value = j.get<double>();
        return true;
    }
    if (!j.is_string())
        return false;
    const std::string& s = j.get_ref<const std::string&>();
    if (s == "nan") {
        value = std::numeric_limits<double>::quiet_NaN();
    } else if (s == "inf") {
        value = std::numeric_limits<double>::infinity();
    } else if (s == "-inf") {
        value = -std::numeric_limits<double>::infinity();
    } else {
        return false;
    }
    return true;
}

bool jsonToFloat(const Json& j, float& value) {
    double d = 0.0;
    if (!jsonToDouble(j, d))
        return false;
    return narrowToFloat(d, value);
}

bool jsonToInt32(const Json& j, int& value) {
    if (j.is_number_integer()) {
        // Unsigned and signed both arrive here; compare in the widest signed form that fits.
        if (j.is_number_unsigned()) {
            const auto u = j.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(INT_MAX))
                return false;
            value = static_cast<int>(u);
            return true;
        }
        const auto i = j.get<std::int64_t>();
        if (i < INT_MIN || i > INT_MAX)
            return false;
        value = static_cast<int>(i);
        return true;
    }
    if (j.is_number_float()) {
        const double d = j.get<double>();
        if (!(d >= static_cast<double>(INT_MIN) && d <= static_cast<double>(INT_MAX))) {
            return false;
        }
        if (std::trunc(d) != d)
            return false;
        value = static_cast<int>(d);
        return true;
    }
    return false;
}

std::string describe(const Json& j) {
    switch (j.type()) {
        case Json::value_t::null:
            return "null";
        case Json::value_t::boolean:
            return "a boolean";
        case Json::value_t::string:
            return "a string";
        case Json::value_t::array:
            return "an array";
        case Json::value_t::object:
            return "an object";
        default:
            return "a number";
    }
}

}  // namespace hueslice::io::detail
