#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "io/internal.h"
#include "io/scene/scene.h"
#include "io/text/json_text.h"

namespace hueslice::io {

using detail::fail;
using detail::Json;

namespace {

// Fewer bytes than the shortest entry a saved scene holds: four parameters, each a quoted token
// with its instance number, a value and the layout around them.
constexpr std::size_t kBytesPerEntry = 64;

// One parameter value of a scene, checked and ready to set.
struct Assignment {
    std::string token;
    const PRM_Template* tmpl = nullptr;
    std::string text;                        // for strings
    std::vector<double> constant;            // one per component, when not keyframed
    std::vector<std::vector<PRM_Key>> keys;  // one list per component, when keyframed
};

// "numobj" and similar: the count of a multi-list, with its entry templates.
struct ListInfo {
    const PRM_Template* count = nullptr;
    int instances = 0;
};

// Instance number of `token` under `pattern` (one "%d"), or 0 when it does not fit. Numbers
// are plain positive decimals, as the host writes them.
int instanceOf(const char* pattern, const std::string& token) {
    const char* at = std::strstr(pattern, "%d");
    if (!at)
        return 0;
    const std::string head(pattern, static_cast<std::size_t>(at - pattern));
    const std::string tail(at + 2);
    if (token.size() <= head.size() + tail.size())
        return 0;
    if (token.compare(0, head.size(), head) != 0)
        return 0;
    if (token.compare(token.size() - tail.size(), tail.size(), tail) != 0)
        return 0;
    const std::string digits = token.substr(head.size(), token.size() - head.size() - tail.size());
    if (digits.size() > 9 || digits[0] == '0')
        return 0;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

class SceneChecker {
  public:
    SceneChecker(const detail::ParsedJson& parsedJson, const std::string& fileName,
                 std::size_t textSize, OP_Parameters& parms)
        : parsed(parsedJson),
          name(fileName),
          node(parms),
          // A saved entry takes well over kBytesPerEntry bytes of scene, so any scene this
          // program saved loads again, while a short file cannot ask for a huge list.
          maxEntries(static_cast<int>(std::min<std::size_t>(
              std::max<std::size_t>(kMaxEntries, textSize / kBytesPerEntry), INT_MAX))) {}

    // Every assignment of the scene, list counts first.
    std::vector<Assignment> check() {
        const Json& root = parsed.value;
        if (!root.is_object())
            fail(name, 1, "expected an object at the top");
        for (const auto& item : root.items()) {
            if (item.key() != "parameters") {
                fail(name, parsed.keyLine(item.key()), "unknown key '" + item.key() + "'");
            }
        }
        if (!root.contains("parameters"))
            fail(name, 0, "missing key 'parameters'");
        const Json& values = root.at("parameters");
        if (!values.is_object())
            fail(name, parsed.keyLine("parameters"), "'parameters' must be an object");

        std::vector<Assignment> counts;
        for (const PRM_Template* t : node.topTemplates()) {
            if (!t->isMulti() || !t->getToken())
                continue;
            ListInfo list;
            list.count = t;
            list.instances = node.evalInt(t->getToken(), 0, 0.0);
            if (values.contains(t->getToken())) {
                counts.push_back(assignment(t->getToken(), values.at(t->getToken()), t));
                list.instances = static_cast<int>(counts.back().constant[0]);
            }
            lists.push_back(list);
        }
        std::vector<Assignment> rest;
        for (const auto& item : values.items()) {
            const PRM_Template* t = resolve(item.key());
            if (!t->isMulti())
                rest.push_back(assignment(item.key(), item.value(), t));
        }
        counts.insert(counts.end(), rest.begin(), rest.end());
        return counts;
    }

  private:
    [[noreturn]] void failParm(const std::string& token, const std::string& what) const {
        const int line = parsed.keyLine("parameters/" + token);
        if (line > 0)
            fail(name, line, "parameter '" + token + "': " + what);
        fail(name, 0, "parameter '" + token + "': " + what);
    }

    const PRM_Template* resolve(const std::string& token) const {
        for (const PRM_Template* t : node.topTemplates()) {
            if (t->getToken() && token == t->getToken())
                return t;
        }
        for (const ListInfo& list : lists) {
            for (const PRM_Template* e = list.count->getMultiParmTemplate(); e && !e->isListEnd();
                 ++e) {
                if (!e->getToken())
                    continue;
                const int instance = instanceOf(e->getToken(), token);
                if (instance < 1)
                    continue;
                if (instance > list.instances) {
                    const auto count = static_cast<unsigned long long>(list.instances);
                    failParm(token, std::string(count == 1 ? "there is only " : "there are only ") +
                                        detail::countOf(count, "entry", "entries") + " in '" +
                                        list.count->getToken() + "'");
                }
                return e;
            }
        }
        const int line = parsed.keyLine("parameters/" + token);
        fail(name, line, "unknown parameter '" + token + "'");
    }

    // Components of a numeric value: a number for one component, an array for more.
    std::vector<double> numbers(const std::string& token, const Json& value, const PRM_Template* t,
                                int size) const {
        std::vector<double> out;
        // One component takes a bare number, more take an array of exactly that many.
        const bool single = size == 1;
        if (single ? value.is_array() || value.is_object()
                   : !(value.is_array() && value.size() == static_cast<std::size_t>(size))) {
            failParm(token, size == 1
                                ? "expected a number, found " + detail::describe(value)
                                : "expected an array of " + std::to_string(size) + " numbers");
        }
        for (int c = 0; c < size; ++c) {
            const Json& v = single ? value : value[static_cast<std::size_t>(c)];
            double d = 0.0;
            if (!detail::jsonToDouble(v, d))
                failParm(token, "expected a number, found " + detail::describe(v));
            const PRM_Kind kind = t->kind();
            if (kind == PRM_Kind::Toggle || kind == PRM_Kind::MultiList) {
                int i = 0;
                if (!detail::jsonToInt32(v, i))
                    failParm(token, "expected a whole number");
                if (kind == PRM_Kind::MultiList && (i < 0 || i > maxEntries)) {
                    failParm(token, "count must be from 0 to " + std::to_string(maxEntries));
                }
            }
            out.push_back(d);
        }
        return out;
    }

    Assignment assignment(const std::string& token, const Json& value,
                          const PRM_Template* t) const {
        Assignment a;
        a.token = token;
        a.tmpl = t;
        switch (t->kind()) {
            case PRM_Kind::Button:
                failParm(token, "a button takes no value");
            case PRM_Kind::String:
                if (!value.is_string()) {
                    failParm(token, "expected a string, found " + detail::describe(value));
                }
                a.text = value.get<std::string>();
                // The host keeps text as a C string, which a NUL would cut short.
                if (a.text.find('\0') != std::string::npos)
                    failParm(token, "text holds a NUL character");
                return a;
            case PRM_Kind::Toggle:
            case PRM_Kind::Colour:
            case PRM_Kind::MultiList:
                break;
            default:
                failParm(token, "this parameter cannot be set from a scene");
        }
        const int size = t->kind() == PRM_Kind::MultiList ? 1 : std::max(1, t->getVectorSize());
        if (!value.is_object()) {
            a.constant = numbers(token, value, t, size);
            return a;
        }
        if (t->kind() == PRM_Kind::MultiList)
            failParm(token, "a list count cannot be keyframed");
        if (value.size() != 1 || !value.contains("keys") || !value.at("keys").is_array()) {
            failParm(token, "a keyframed value must be {\"keys\": [[time, value], ...]}");
        }
        const Json& keys = value.at("keys");
        if (keys.empty())
            failParm(token, "a keyframed value needs at least one key");
        a.keys.resize(static_cast<std::size_t>(size));
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const Json& key = keys[k];
            if (!key.is_array() || key.size() != 2 || !key[0].is_number()) {
                failParm(token, "key " + std::to_string(k) + " must be [time, value]");
            }
            const double time = key[0].get<double>();
            if (!std::isfinite(time))
                failParm(token, "key " + std::to_string(k) + " has a time that is not finite");
            if (k > 0 && !(time > a.keys[0].back().time)) {
                failParm(token, "key times must increase (key " + std::to_string(k) + " at " +
                                    key[0].dump() + ")");
            }
            const std::vector<double> v = numbers(token, key[1], t, size);
            for (int c = 0; c < size; ++c)
                a.keys[static_cast<std::size_t>(c)].push_back(
                    PRM_Key{time, v[static_cast<std::size_t>(c)]});
        }
        return a;
    }

    const detail::ParsedJson& parsed;
    const std::string& name;
    OP_Parameters& node;
    const int maxEntries;
    std::vector<ListInfo> lists;
};

void apply(const Assignment& a, OP_Parameters& node) {
    PRM_Parm* parm = node.getParm(a.token.c_str());
    if (!parm)
        return;
    if (a.tmpl->kind() == PRM_Kind::String) {
        parm->setString(a.text.c_str());
        return;
    }
    for (int c = 0; c < parm->getVectorSize(); ++c) {
        const auto comp = static_cast<std::size_t>(c);
        if (!a.keys.empty()) {
            if (comp < a.keys.size())
                parm->setKeys(c, a.keys[comp]);
            continue;
        }
        if (comp >= a.constant.size())
            continue;
        if (parm->isAnimated(c))
            parm->setKeys(c, {});
        parm->setFloat(c, 0.0, a.constant[comp]);
    }
}

Json numericValue(const PRM_Parm& parm) {
    const int size = parm.getVectorSize();
    const auto tuple = [&](fpreal time) {
        if (size == 1)
            return detail::doubleToJson(parm.evalFloat(0, time));
        Json values = Json::array();
        for (int c = 0; c < size; ++c)
            values.push_back(detail::doubleToJson(parm.evalFloat(c, time)));
        return values;
    };
    // Keys of all components at the union of their times. Keys are linear with held ends, so a
    // component keyed at fewer times gains keys that lie on its own curve and it evaluates the
    // same.
    std::set<fpreal> times;
    for (int c = 0; c < size; ++c) {
        for (const PRM_Key& k : parm.keys(c))
            times.insert(k.time);
    }
    if (times.empty())
        return tuple(0.0);
    Json keys = Json::array();
    for (fpreal t : times)
        keys.push_back(Json::array({t, tuple(t)}));
    return Json{{"keys", std::move(keys)}};
}

}  // namespace

void applyScene(std::string_view text, const std::string& name, OP_Parameters& node) {
    const detail::ParsedJson parsed = detail::parseJson(text, name);
    const std::vector<Assignment> assignments =
        SceneChecker(parsed, name, text.size(), node).check();
    for (const Assignment& a : assignments)
        apply(a, node);
}

std::string saveScene(OP_Parameters& node) {
    std::string out = "{\n  \"parameters\": {";
    bool first = true;
    for (PRM_Parm* parm : node.allParms()) {
        const PRM_Kind kind = parm->getTemplate().kind();
        if (kind == PRM_Kind::Button || kind == PRM_Kind::Invalid || kind == PRM_Kind::ListEnd)
            continue;
        const Json value =
            kind == PRM_Kind::String ? Json(parm->evalString()) : numericValue(*parm);
        out += first ? "\n    " : ",\n    ";
        first = false;
        try {
            out += Json(parm->getToken()).dump() + ": " + value.dump();
        } catch (const nlohmann::json::type_error&) {
            // Rewriting the bytes would change the value, so refuse instead.
            throw OutputError("parameter '" + parm->getToken() +
                              "': text is not valid UTF-8, which a scene file cannot carry");
        }
    }
    out += first ? "}\n}\n" : "\n  }\n}\n";
    return out;
}

}  // namespace hueslice::io
