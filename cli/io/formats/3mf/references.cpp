#include "io/formats/3mf/references.h"

#include <array>
#include <charconv>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/formats/3mf/model_xml.h"
#include "io/io.h"

namespace hueslice::io::detail {

namespace {

bool isPropertyResource(std::string_view kind) {
    return kind == "basematerials" || kind == "colorgroup" || kind == "texture2dgroup" ||
           kind == "compositematerials" || kind == "multiproperties";
}

// "#RRGGBB" or "#RRGGBBAA" as three floats; false for anything else.
bool parseColour(std::string_view text, std::array<float, 3>& rgb) {
    if ((text.size() != 7 && text.size() != 9) || text[0] != '#')
        return false;
    for (int c = 0; c < 3; ++c) {
        unsigned value = 0;
        const char* from = text.data() + 1 + 2 * c;
        const auto r = std::from_chars(from, from + 2, value, 16);
        if (r.ec != std::errc() || r.ptr != from + 2)
            return false;
        rgb[static_cast<std::size_t>(c)] = static_cast<float>(value) / 255.0f;
    }
    return true;
}

}  // namespace

void collectObjectIndexColours(const pugi::xml_node& model, ObjectIndexColours& out) {
    const pugi::xml_node resources = childNamed(model, "resources");
    std::unordered_map<unsigned long long, std::vector<std::array<float, 3>>> groups;
    for (pugi::xml_node resource : resources.children()) {
        const std::string_view kind = localName(resource);
        const char* attribute = kind == "basematerials" ? "displaycolor"
                                : kind == "colorgroup"  ? "color"
                                                        : nullptr;
        unsigned long long id = 0;
        if (!attribute || !number(resource, "id", id))
            continue;
        std::vector<std::array<float, 3>>& colours = groups[id];
        for (pugi::xml_node entry : resource.children()) {
            std::array<float, 3> rgb{1.0f, 1.0f, 1.0f};
            parseColour(entry.attribute(attribute).value(), rgb);
            colours.push_back(rgb);
        }
    }
    std::size_t ordinal = 0;
    for (pugi::xml_node object : resources.children()) {
        if (localName(object) != "object")
            continue;
        const std::size_t id = ordinal++;
        unsigned long long pid = 0;
        if (!number(object, "pid", pid) || !groups.count(pid))
            continue;
        const std::vector<std::array<float, 3>>& colours = groups[pid];
        const pugi::xml_node triangles = childNamed(childNamed(object, "mesh"), "triangles");
        std::size_t t = 0;
        for (pugi::xml_node triangle = triangles.first_child(); triangle;
             triangle = triangle.next_sibling(), ++t) {
            unsigned long long index = 0;
            if (!triangle.attribute("pid") && number(triangle, "p1", index) &&
                index < colours.size())
                out[id][t] = colours[index];
        }
    }
}

void checkPropertyReferences(const pugi::xml_node& model, const std::string& partName,
                             const std::string& name) {
    const pugi::xml_node resources = childNamed(model, "resources");
    std::unordered_map<unsigned long long, std::size_t> entriesOf;
    for (pugi::xml_node resource : resources.children()) {
        unsigned long long id = 0;
        if (isPropertyResource(localName(resource)) && number(resource, "id", id)) {
            std::size_t count = 0;
            for (pugi::xml_node entry = resource.first_child(); entry; entry = entry.next_sibling())
                ++count;
            entriesOf[id] = count;
        }
    }
    const auto refuse = [&](const std::string& where, unsigned long long pid,
                            const std::string& fault) {
        throw InputError(name + ": " + partName + ": " + where + " refers to property group " +
                         std::to_string(pid) + ", " + fault);
    };
    const auto checkEntry = [&](const std::string& where, unsigned long long pid,
                                const pugi::xml_node& node, const char* attribute) {
        unsigned long long index = 0;
        if (!number(node, attribute, index))
            return;
        const std::size_t count = entriesOf.at(pid);
        if (index >= count) {
            refuse(where, pid,
                   std::string(attribute) + " " + std::to_string(index) + ", which has " +
                       std::to_string(count) + (count == 1 ? " entry" : " entries"));
        }
    };
    for (pugi::xml_node object : resources.children()) {
        if (localName(object) != "object")
            continue;
        const std::string objectWhere = "object " + std::string(object.attribute("id").value());
        unsigned long long objectPid = 0;
        const bool objectHasPid = number(object, "pid", objectPid);
        if (objectHasPid) {
            if (!entriesOf.count(objectPid))
                refuse(objectWhere, objectPid, "which does not exist");
            checkEntry(objectWhere, objectPid, object, "pindex");
        }
        const pugi::xml_node triangles = childNamed(childNamed(object, "mesh"), "triangles");
        std::size_t t = 0;
        for (pugi::xml_node triangle = triangles.first_child(); triangle;
             triangle = triangle.next_sibling(), ++t) {
            // Without a pid of its own, a triangle's indices are into its object's group.
            unsigned long long pid = objectPid;
            if (!number(triangle, "pid", pid) && !objectHasPid)
                continue;
            const std::string where = "triangle " + std::to_string(t) + " of " + objectWhere;
            if (!entriesOf.count(pid))
                refuse(where, pid, "which does not exist");
            for (const char* corner : {"p1", "p2", "p3"})
                checkEntry(where, pid, triangle, corner);
        }
    }
}

}  // namespace hueslice::io::detail
