#include "io/formats/3mf/package.h"

#include <zip.h>

#include <pugixml.hpp>

#include <unordered_set>
#include <utility>
#include <vector>

#include "io/formats/3mf/model_parser.h"
#include "io/formats/3mf/references.h"
#include "io/io.h"

namespace hueslice::io::detail {

namespace {

class Archive {
  public:
    Archive(std::string_view bytes, const std::string& n) : name(n) {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        if (source) {
            archive = zip_open_from_source(source, ZIP_RDONLY, &error);
            if (!archive)
                zip_source_free(source);
        }
        if (!archive) {
            const std::string why = zip_error_strerror(&error);
            zip_error_fini(&error);
            throw InputError(name + ": cannot read 3mf: not a ZIP package (" + why + ")");
        }
        zip_error_fini(&error);
    }
    ~Archive() { zip_discard(archive); }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool holds(const std::string& entry) const {
        return zip_name_locate(archive, entry.c_str(), 0) >= 0;
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        const zip_int64_t entries = zip_get_num_entries(archive, 0);
        for (zip_int64_t i = 0; i < entries; ++i) {
            if (const char* n = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0))
                out.emplace_back(n);
        }
        return out;
    }

    // Hands `entry`'s bytes to `sink(data, size, last)` as they are inflated.
    template <typename Sink>
    void stream(const std::string& entry, Sink&& sink) const {
        zip_file_t* file = zip_fopen(archive, entry.c_str(), 0);
        if (!file) {
            throw InputError(name + ": cannot read 3mf: " + printable(entry) + ": " +
                             zip_strerror(archive));
        }
        struct Closer {
            zip_file_t* f;
            ~Closer() { zip_fclose(f); }
        } closer{file};
        std::vector<char> buffer(1 << 16);
        while (true) {
            const zip_int64_t got = zip_fread(file, buffer.data(), buffer.size());
            if (got < 0) {
                throw InputError(name + ": cannot read 3mf: " + printable(entry) + ": " +
                                 zip_file_strerror(file));
            }
            sink(buffer.data(), static_cast<std::size_t>(got), got == 0);
            if (got == 0)
                return;
        }
    }

    // A small part whole: relationships, which name parts and carry no geometry. A few
    // hundred bytes in any real package; one that inflates past 16 MiB is refused rather than
    // held.
    std::string read(const std::string& entry) const {
        constexpr std::size_t kMaxRelationships = std::size_t{16} << 20;
        std::string bytes;
        if (holds(entry)) {
            stream(entry, [&](const char* data, std::size_t size, bool) {
                bytes.append(data, size);
                if (bytes.size() > kMaxRelationships) {
                    throw InputError(name + ": cannot read 3mf: " + printable(entry) +
                                     ": relationships larger than 16 MiB");
                }
            });
        }
        return bytes;
    }

  private:
    const std::string& name;
    zip_t* archive = nullptr;
};

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A relationship target as a ZIP entry name: absolute targets from the root, relative ones
// from the folder of the part the relationships belong to ("3D/_rels/x.model.rels" belongs
// to "3D/x.model").
std::string entryOf(const std::string& relsEntry, std::string_view target) {
    if (!target.empty() && target.front() == '/')
        return entryOfPath(std::string(target));
    return relsEntry.substr(0, relsEntry.rfind("_rels/")) + std::string(target);
}

// Calls `each(relsEntry, relationship)` for every relationship of the package.
template <typename Each>
void forEachRelationship(const Archive& archive, const std::string& relsEntry, Each&& each) {
    const std::string xml = archive.read(relsEntry);
    pugi::xml_document document;
    if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_minimal))
        return;
    for (pugi::xml_node relationship : document.first_child().children()) {
        if (localName(relationship.name()) == "Relationship")
            each(relationship);
    }
}

// The first part that a relationship names and the package does not hold, as the relationship
// names it; empty when every named part is there.
std::string missingPart(const Archive& archive) {
    const std::vector<std::string> names = archive.names();
    const std::unordered_set<std::string> held(names.begin(), names.end());
    std::string missing;
    for (const std::string& rels : names) {
        if (!missing.empty() || !endsWith(rels, ".rels"))
            continue;
        forEachRelationship(archive, rels, [&](const pugi::xml_node& relationship) {
            const std::string_view target = relationship.attribute("Target").value();
            if (missing.empty() && !target.empty() && !held.count(entryOf(rels, target)))
                missing = target;
        });
    }
    return missing;
}

// The entry of the model part the package starts from, as its root relationships name it.
std::string rootPart(const Archive& archive, const std::string& name) {
    std::string root;
    forEachRelationship(archive, "_rels/.rels", [&](const pugi::xml_node& relationship) {
        if (root.empty() && endsWith(relationship.attribute("Type").value(), "/3dmodel"))
            root = entryOf("_rels/.rels", relationship.attribute("Target").value());
    });
    if (root.empty())
        throw InputError(name + ": cannot read 3mf: the package names no 3D model part");
    if (!archive.holds(root)) {
        const std::string missing = missingPart(archive);
        throw InputError(name + ": cannot read 3mf: the package has no part \"" +
                         printable(missing.empty() ? "/" + root : missing) +
                         "\", which a relationship names");
    }
    return root;
}

}  // namespace

Package readPackage(std::string_view bytes, const std::string& name) {
    const Archive archive(bytes, name);
    Package package;
    DefinedTotals defined;
    const auto add = [&](const std::string& entry, const std::string& namedBy) {
        if (package.partByEntry.count(entry))
            return;
        if (!archive.holds(entry)) {
            throw InputError(name + ": cannot read 3mf: the package has no part \"" +
                             printable(entry) + "\", which " + namedBy + " names");
        }
        package.partByEntry.emplace(entry, package.parts.size());
        package.parts.emplace_back();
        package.parts.back().entry = entry;
        package.parts.back().label = printable(entry);
    };
    add(rootPart(archive, name), "a relationship");
    // Parts are added while earlier ones are read, so the loop goes by number.
    for (std::size_t p = 0; p < package.parts.size(); ++p) {
        ModelPart& part = package.parts[p];
        {
            ModelParser parser(part, defined, name);
            archive.stream(part.entry, [&](const char* data, std::size_t size, bool last) {
                parser.feed(data, size, last);
            });
        }
        checkPropertyReferences(package.parts[p], name);
        const std::string label = package.parts[p].label;
        std::vector<std::string> paths;
        for (const Placement& item : package.parts[p].items)
            paths.push_back(item.path);
        for (const Object& object : package.parts[p].objects) {
            for (const Placement& component : object.components)
                paths.push_back(component.path);
        }
        for (const std::string& path : paths) {
            if (!path.empty())
                add(entryOfPath(path), "a path in " + label);
        }
    }
    return package;
}

}  // namespace hueslice::io::detail
