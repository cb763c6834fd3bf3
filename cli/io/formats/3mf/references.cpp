#include "io/formats/3mf/references.h"

#include "io/io.h"

namespace hueslice::io::detail {

void checkPropertyReferences(const ModelPart& part, const std::string& name) {
    const auto refuse = [&](const std::string& where, std::uint32_t pid, const std::string& fault) {
        throw InputError(name + ": " + part.label + ": " + where + " refers to property group " +
                         std::to_string(pid) + ", " + fault);
    };
    const auto groupOf = [&](const std::string& where, std::uint32_t pid) {
        const auto found = part.groups.find(pid);
        if (found == part.groups.end())
            refuse(where, pid, "which does not exist");
        return found->second.entries;
    };
    const auto checkEntry = [&](const std::string& where, std::uint32_t pid, std::size_t count,
                                const char* attribute, std::uint32_t index) {
        if (index != kAbsent && index >= count) {
            refuse(where, pid,
                   std::string(attribute) + " " + std::to_string(index) + ", which has " +
                       std::to_string(count) + (count == 1 ? " entry" : " entries"));
        }
    };
    for (const Object& object : part.objects) {
        const std::string objectWhere = "object " + std::to_string(object.id);
        std::size_t objectEntries = 0;
        if (object.pid != kAbsent) {
            objectEntries = groupOf(objectWhere, object.pid);
            checkEntry(objectWhere, object.pid, objectEntries, "pindex", object.pindex);
        }
        for (std::size_t t = 0; t < object.triangles.size(); ++t) {
            // Without a pid of its own, a triangle's indices are into its object's group.
            const Triangle& triangle = object.triangles[t];
            const std::uint32_t pid = triangle.pid != kAbsent ? triangle.pid : object.pid;
            if (pid == kAbsent)
                continue;
            // The place is named only once something is wrong: most triangles are fine.
            const auto where = [&] {
                return "triangle " + std::to_string(t) + " of " + objectWhere;
            };
            std::size_t entries = objectEntries;
            if (triangle.pid != kAbsent) {
                const auto found = part.groups.find(pid);
                if (found == part.groups.end())
                    refuse(where(), pid, "which does not exist");
                entries = found->second.entries;
            }
            for (int c = 0; c < 3; ++c) {
                if (triangle.p[c] != kAbsent && triangle.p[c] >= entries)
                    checkEntry(where(), pid, entries,
                               c == 0   ? "p1"
                               : c == 1 ? "p2"
                                        : "p3",
                               triangle.p[c]);
            }
        }
    }
}

}  // namespace hueslice::io::detail
