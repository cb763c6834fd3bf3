#pragma once

// JSON parsing with the places that messages need: nlohmann parses; this layer adds nesting and
// duplicate-key checks and remembers on which line keys and array elements sit.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "io/text/indexed_ordered_map.h"

namespace hueslice::io::detail {

using Json = nlohmann::basic_json<IndexedOrderedMap>;

// Deepest nesting of arrays and objects accepted.
inline constexpr int kMaxJsonDepth = 256;

struct ParsedJson {
    Json value;
    // Line of each object key, by path ("parameters/col1"), for keys at most three levels deep.
    std::unordered_map<std::string, int> keyLines;
    // Line of each element of arrays that are object members at most three levels deep, by the
    // array's path ("primitives").
    std::unordered_map<std::string, std::vector<int>> elementLines;

    // The line of a key, or 0 when unknown.
    int keyLine(const std::string& path) const;
    // The line of element `index` of the array at `path`, or 0 when unknown.
    int elementLine(const std::string& path, std::size_t index) const;
};

// Parses `text`; throws InputError naming `name` and a line for malformed JSON, nesting deeper
// than kMaxJsonDepth and repeated keys.
ParsedJson parseJson(std::string_view text, const std::string& name);

// "name:line: what", or "name: what" when line is 0.
[[noreturn]] void fail(const std::string& name, int line, const std::string& what);

// A float as JSON: a number that reads back to the same float, or "nan" / "inf" / "-inf".
Json floatToJson(float value);
// A double as JSON, same rules.
Json doubleToJson(double value);
// Reads a number or one of the strings above; false for anything else. Numbers beyond the
// float range are refused (false) by toFloat.
bool jsonToDouble(const Json& j, double& value);
bool jsonToFloat(const Json& j, float& value);
// Reads an integral number within int32; false otherwise.
bool jsonToInt32(const Json& j, int& value);
// Short description of a JSON value's type for messages ("a string", "an array").
std::string describe(const Json& j);

}  // namespace hueslice::io::detail
