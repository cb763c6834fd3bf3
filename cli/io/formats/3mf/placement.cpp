#include "io/formats/3mf/placement.h"

#include <algorithm>
#include <utility>
#include <vector>

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
    a.components = plus(a.components, b.components);
    return a;
}

enum class Visit { fresh, open, done };

struct Node {
    PlacementTotals own;  // its mesh's, then with its components'
    Visit state = Visit::fresh;
};

}  // namespace

PlacementTotals countPlacements(const Package& package, const std::string& name) {
    const std::string& rootEntry = package.parts.front().label;
    const auto refuse = [&](const std::string& fault) {
        throw InputError(name + ": " + rootEntry + ": " + fault);
    };
    std::vector<std::vector<Node>> nodes(package.parts.size());
    for (std::size_t p = 0; p < package.parts.size(); ++p)
        nodes[p].resize(package.parts[p].objects.size());
    const auto nodeOf = [&](std::size_t part, const Object* object) -> Node& {
        return nodes[part][static_cast<std::size_t>(object - package.parts[part].objects.data())];
    };
    const auto missing = [&](std::size_t from, const Placement& p, const std::string& where) {
        const std::size_t part = package.partOf(from, p);
        refuse(where + " names object " + std::to_string(p.objectId) + ", which " +
               (part < package.parts.size() ? package.parts[part].label : printable(p.path)) +
               " does not define");
    };

    // Depth first without recursion; `path` holds the objects being counted and the next
    // component of each, so its length is the depth reached. An object is counted once and its
    // total reused wherever it is placed again.
    struct Step {
        const Object* object;
        std::size_t part;
        std::size_t next;
    };
    const auto countFrom = [&](const Object* root, std::size_t rootPart) {
        std::vector<Step> path;
        nodeOf(rootPart, root).state = Visit::open;
        path.push_back({root, rootPart, 0});
        while (!path.empty()) {
            Step& step = path.back();
            Node& node = nodeOf(step.part, step.object);
            if (step.next == step.object->components.size()) {
                if (step.object->isMesh) {
                    node.own.triangles = plus(node.own.triangles, step.object->triangles.size());
                    node.own.vertices = plus(node.own.vertices, step.object->vertices.size() / 3);
                }
                node.state = Visit::done;
                const PlacementTotals done = node.own;
                path.pop_back();
                if (!path.empty())
                    nodeOf(path.back().part, path.back().object).own += done;
                continue;
            }
            const Placement& component = step.object->components[step.next++];
            node.own.components = plus(node.own.components, 1);
            std::size_t childPart = 0;
            const Object* child = package.objectOf(step.part, component, childPart);
            if (!child) {
                missing(step.part, component,
                        "a component of object " + std::to_string(step.object->id));
            }
            Node& childNode = nodeOf(childPart, child);
            if (childNode.state == Visit::done) {
                node.own += childNode.own;
            } else if (childNode.state == Visit::open) {
                refuse("object " + std::to_string(child->id) +
                       " holds itself through its components");
            } else {
                if (path.size() > static_cast<std::size_t>(kMaxComponentDepth)) {
                    refuse("components nest more than " + std::to_string(kMaxComponentDepth) +
                           " deep");
                }
                childNode.state = Visit::open;
                path.push_back({child, childPart, 0});
            }
        }
    };

    PlacementTotals total;
    const std::vector<Placement>& items = package.parts.front().items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::size_t part = 0;
        const Object* object = package.objectOf(0, items[i], part);
        if (!object)
            missing(0, items[i], "build item " + std::to_string(i));
        Node& node = nodeOf(part, object);
        if (node.state == Visit::fresh)
            countFrom(object, part);
        total += node.own;
    }
    for (const auto& [count, what] :
         {std::pair{total.triangles, " triangles"}, std::pair{total.vertices, " vertices"},
          std::pair{total.components, " components"}}) {
        if (count > kMaxPlaced)
            refuse("the build places more than " + std::to_string(kMaxPlaced) + what);
    }
    return total;
}

}  // namespace hueslice::io::detail
