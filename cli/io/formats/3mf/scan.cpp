#include "io/formats/3mf/scan.h"

#include <zip.h>

#include <unordered_set>
#include <utility>
#include <vector>

#include "io/formats/3mf/model_xml.h"

namespace hueslice::io::detail {

namespace {

class Archive {
  public:
    explicit Archive(std::string_view bytes) {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        if (!source)
            return;
        archive = zip_open_from_source(source, ZIP_RDONLY, &error);
        if (!archive)
            zip_source_free(source);
    }
    ~Archive() {
        if (archive)
            zip_discard(archive);
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Entry names, in the archive's order; none when it could not be opened.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        const zip_int64_t entries = archive ? zip_get_num_entries(archive, 0) : 0;
        for (zip_int64_t i = 0; i < entries; ++i) {
            if (const char* n = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0))
                out.emplace_back(n);
        }
        return out;
    }

    // The bytes of entry `name`; empty when it cannot be read.
    std::string read(const std::string& name) const {
        std::string bytes;
        zip_file_t* file = archive ? zip_fopen(archive, name.c_str(), 0) : nullptr;
        if (!file)
            return bytes;
        char buffer[1 << 16];
        zip_int64_t got;
        while ((got = zip_fread(file, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, static_cast<std::size_t>(got));
        zip_fclose(file);
        return bytes;
    }

  private:
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
        return std::string(target.substr(1));
    std::string folder = relsEntry.substr(0, relsEntry.rfind("_rels/"));
    return folder + std::string(target);
}

// The entry of the model part the package starts from, as its root relationships name it.
std::string rootPart(const Archive& archive) {
    const std::string xml = archive.read("_rels/.rels");
    pugi::xml_document document;
    document.load_buffer(xml.data(), xml.size(), pugi::parse_minimal);
    for (pugi::xml_node relationship : document.first_child().children()) {
        if (endsWith(relationship.attribute("Type").value(), "/3dmodel"))
            return entryOf("_rels/.rels", relationship.attribute("Target").value());
    }
    return {};
}

}  // namespace

PackageScan scanPackage(std::string_view package, const std::string& name) {
    PackageScan scan;
    const Archive archive(package);
    const std::string root = rootPart(archive);
    for (const std::string& part : archive.names()) {
        if (!endsWith(part, ".model"))
            continue;
        const std::string xml = archive.read(part);
        pugi::xml_document document;
        if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_minimal))
            continue;  // the reader reports malformed XML with its own words
        const pugi::xml_node model = document.first_child();
        checkPropertyReferences(model, part, name);
        const PlacementTotals placed = countPlacements(model, part, name);
        scan.placed.triangles += placed.triangles;
        scan.placed.vertices += placed.vertices;
        if (part == root)
            collectObjectIndexColours(model, scan.indexColours);
    }
    return scan;
}

std::string missingPart(std::string_view package) {
    const Archive archive(package);
    const std::vector<std::string> names = archive.names();
    const std::unordered_set<std::string> held(names.begin(), names.end());
    for (const std::string& rels : names) {
        if (!endsWith(rels, ".rels"))
            continue;
        const std::string xml = archive.read(rels);
        pugi::xml_document document;
        if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_minimal))
            continue;
        for (pugi::xml_node relationship : document.first_child().children()) {
            const std::string_view target = relationship.attribute("Target").value();
            if (localName(relationship) != "Relationship" || target.empty())
                continue;
            if (!held.count(entryOf(rels, target)))
                return std::string(target);
        }
    }
    return {};
}

}  // namespace hueslice::io::detail
