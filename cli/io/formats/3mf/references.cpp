#include "io/formats/3mf/references.h"

#include "io/io.h"

namespace hueslice::io::detail {

void checkPropertyReferences(const ModelPart& part, const std::string& name) {
    // `where` names the element, and is called only once something is wrong: most triangles
    // are fine, and naming each would cost a string per triangle.
    const auto refuse = [&](const auto& where, std::uint32_t pid, const std::string& fault) {
        throw InputError(name + ": " + part.label + ": " + where() + " refers to property group " +
                         std::to_string(pid) + ", " + fault);
    };
    const auto entriesOf = [&](const auto& where, std::uint32_t pid) {
        const auto found = part.groups.find(pid);
        if (found == part.groups.end())
            refuse(where, pid, "which does not exist");
        return found->second.entries;
    };
    const auto checkEntry = [&](const auto& where, std::uint32_t pid, std::size_t count,
                                const char* attribute, std::uint32_t index) {
        if (index != kAbsent && index >= count) {
            refuse(where, pid,
                   std::string(attribute) + " " + std::to_string(index) + ", which has " +
                       std::to_string(count) + (count == 1 ? " entry" : " entries"));
        }
    };
    for (const Object& object : part.objects) {
        const std::string objectWhere = "object " + std::to_string(object.id);
        const auto atObject = [&] { return objectWhere; };
        std::size_t objectEntries = 0;
        if (object.pid != kAbsent) {
            objectEntries = entriesOf(atObject, object.pid);
            checkEntry(atObject, object.pid, objectEntries, "pindex", object.pindex);
        }
        for (std::size_t t = 0; t < object.triangles.size(); ++t) {
            // Without a pid of its own, a triangle's indices are into its object's group.
            const Triangle& triangle = object.triangles[t];
            const std::uint32_t pid = triangle.pid != kAbsent ? triangle.pid : object.pid;
            if (pid == kAbsent)
                continue;
            const auto atTriangle = [&] {
                return "triangle " + std::to_string(t) + " of " + objectWhere;
            };
            const std::size_t entries =
                triangle.pid != kAbsent ? entriesOf(atTriangle, pid) : objectEntries;
            checkEntry(atTriangle, pid, entries, "p1", triangle.p[0]);
            checkEntry(atTriangle, pid, entries, "p2", triangle.p[1]);
            checkEntry(atTriangle, pid, entries, "p3", triangle.p[2]);
        }
    }
}

}  // namespace hueslice::io::detail
