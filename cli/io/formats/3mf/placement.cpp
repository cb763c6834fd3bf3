#include "io/formats/3mf/placement.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "io/formats/3mf/model_xml.h"
#include "io/io.h"

namespace hueslice::io::detail {

namespace {

constexpr unsigned long long kCap = kMaxPlaced + 1;

unsigned long long plus(unsigned long long a, unsigned long long b) {
    return std::min(kCap, a + b);  // both at most kCap, so the sum cannot wrap
}

PlacementTotals& operator+=(PlacementTotals& a, const PlacementTotals& b) {
    a.triangles = plus(a.triangles, b.triangles);
    a.vertices = plus(a.vertices, b.vertices);
    return a;
}

unsigned long long childCount(const pugi::xml_node& node) {
    unsigned long long n = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        n += child.type() == pugi::node_element;
    return n;
}

struct Object {
    PlacementTotals own;                       // its mesh's, then with its components'
    std::vector<unsigned long long> children;  // object ids of its components, in order
    enum { kNew, kOpen, kDone } state = kNew;
};

}  // namespace

PlacementTotals countPlacements(const pugi::xml_node& model, const std::string& partName,
                                const std::string& name) {
    const auto refuse = [&](const std::string& fault) {
        throw InputError(name + ": " + partName + ": " + fault);
    };
    const pugi::xml_node build = childNamed(model, "build");
    unsigned long long elements = 0;
    for (pugi::xml_node node : childNamed(model, "resources").children())
        elements += localName(node) == "object";
    for (pugi::xml_node node : build.children())
        elements += localName(node) == "item";
    if (elements > kMaxObjectsAndItems) {
        refuse(std::to_string(elements) + " objects and build items, more than the " +
               std::to_string(kMaxObjectsAndItems) + " that can be read in reasonable time");
    }
    std::unordered_map<unsigned long long, Object> objects;
    for (pugi::xml_node node : childNamed(model, "resources").children()) {
        unsigned long long id = 0;
        if (localName(node) != "object" || !number(node, "id", id))
            continue;
        Object& object = objects[id];
        const pugi::xml_node mesh = childNamed(node, "mesh");
        object.own.triangles = std::min(kCap, childCount(childNamed(mesh, "triangles")));
        object.own.vertices = std::min(kCap, childCount(childNamed(mesh, "vertices")));
        for (pugi::xml_node component : childNamed(node, "components").children()) {
            unsigned long long child = 0;
            if (localName(component) == "component" && number(component, "objectid", child))
                object.children.push_back(child);
        }
    }

    // Depth first without recursion; `path` holds the objects being counted and the next
    // component of each, so its length is the depth reached. An object is counted once and its
    // total reused wherever it is placed again.
    const auto countFrom = [&](Object& root) {
        std::vector<std::pair<Object*, std::size_t>> path;
        root.state = Object::kOpen;
        path.emplace_back(&root, 0);
        while (!path.empty()) {
            Object* object = path.back().first;
            std::size_t& next = path.back().second;
            if (next == object->children.size()) {
                object->state = Object::kDone;
                path.pop_back();
                if (!path.empty())
                    path.back().first->own += object->own;
                continue;
            }
            const unsigned long long id = object->children[next++];
            const auto found = objects.find(id);
            if (found == objects.end())
                continue;
            Object& child = found->second;
            if (child.state == Object::kDone) {
                object->own += child.own;
            } else if (child.state == Object::kOpen) {
                refuse("object " + std::to_string(id) + " holds itself through its components");
            } else {
                if (path.size() > static_cast<std::size_t>(kMaxComponentDepth)) {
                    refuse("components nest more than " + std::to_string(kMaxComponentDepth) +
                           " deep");
                }
                child.state = Object::kOpen;
                path.emplace_back(&child, 0);
            }
        }
    };

    PlacementTotals total;
    for (pugi::xml_node item : build.children()) {
        unsigned long long id = 0;
        if (localName(item) != "item" || !number(item, "objectid", id))
            continue;
        const auto found = objects.find(id);
        if (found == objects.end())
            continue;
        if (found->second.state == Object::kNew)
            countFrom(found->second);
        total += found->second.own;
    }
    if (total.triangles > kMaxPlaced || total.vertices > kMaxPlaced) {
        refuse("the build places more than " + std::to_string(kMaxPlaced) +
               (total.triangles > kMaxPlaced ? " triangles" : " vertices"));
    }
    return total;
}

}  // namespace hueslice::io::detail
