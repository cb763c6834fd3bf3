#include "io/formats/3mf/references.h"

#include <zip.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <pugixml.hpp>

#include "io/io.h"

namespace hueslice::io::detail {

namespace {

// The element's name without its namespace prefix.
std::string_view localName(const pugi::xml_node& node) {
    std::string_view full = node.name();
    const auto colon = full.find(':');
    return colon == std::string_view::npos ? full : full.substr(colon + 1);
}

bool isPropertyResource(std::string_view kind) {
    return kind == "basematerials" || kind == "colorgroup" || kind == "texture2dgroup" ||
           kind == "compositematerials" || kind == "multiproperties";
}

// A non-negative integer attribute; false when absent or not a number.
bool number(const pugi::xml_node& node, const char* attribute, unsigned long long& out) {
    const char* text = node.attribute(attribute).value();
    if (!*text)
        return false;
    const char* end = text + std::strlen(text);
    const auto r = std::from_chars(text, end, out);
    return r.ec == std::errc() && r.ptr == end;
}

std::vector<std::pair<std::string, std::string>> modelParts(std::string_view package) {
    std::vector<std::pair<std::string, std::string>> parts;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(package.data(), package.size(), 0, &error);
    if (!source)
        return parts;
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!archive) {
        zip_source_free(source);
        return parts;
    }
    std::unique_ptr<zip_t, decltype(&zip_discard)> owner(archive, zip_discard);
    const zip_int64_t entries = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char* entryName = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0);
        zip_stat_t info;
        if (!entryName || zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &info) != 0)
            continue;
        const std::string_view n(entryName);
        if (n.size() < 6 || n.substr(n.size() - 6) != ".model")
            continue;
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        if (!file)
            continue;
        std::string bytes;
        char buffer[1 << 16];
        zip_int64_t got;
        while ((got = zip_fread(file, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, static_cast<std::size_t>(got));
        zip_fclose(file);
        parts.emplace_back(std::string(n), std::move(bytes));
    }
    return parts;
}

}  // namespace

void checkPropertyReferences(std::string_view package, const std::string& name) {
    for (const auto& part : modelParts(package)) {
        // Named, not bound: lambdas below capture them, which clang refuses for bindings.
        const std::string& partName = part.first;
        const std::string& xml = part.second;
        pugi::xml_document document;
        if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_minimal))
            continue;  // the reader reports malformed XML with its own words
        const pugi::xml_node model = document.first_child();
        pugi::xml_node resources;
        for (pugi::xml_node child : model.children()) {
            if (localName(child) == "resources")
                resources = child;
        }
        std::unordered_map<unsigned long long, std::size_t> entriesOf;
        for (pugi::xml_node resource : resources.children()) {
            unsigned long long id = 0;
            if (isPropertyResource(localName(resource)) && number(resource, "id", id)) {
                std::size_t count = 0;
                for (pugi::xml_node entry = resource.first_child(); entry;
                     entry = entry.next_sibling())
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
            unsigned long long pid = 0;
            if (number(object, "pid", pid)) {
                if (!entriesOf.count(pid))
                    refuse(objectWhere, pid, "which does not exist");
                checkEntry(objectWhere, pid, object, "pindex");
            }
            pugi::xml_node triangles;
            for (pugi::xml_node mesh : object.children()) {
                if (localName(mesh) != "mesh")
                    continue;
                for (pugi::xml_node child : mesh.children()) {
                    if (localName(child) == "triangles")
                        triangles = child;
                }
            }
            std::size_t t = 0;
            for (pugi::xml_node triangle = triangles.first_child(); triangle;
                 triangle = triangle.next_sibling(), ++t) {
                if (!number(triangle, "pid", pid))
                    continue;
                const std::string where = "triangle " + std::to_string(t) + " of " + objectWhere;
                if (!entriesOf.count(pid))
                    refuse(where, pid, "which does not exist");
                for (const char* corner : {"p1", "p2", "p3"})
                    checkEntry(where, pid, triangle, corner);
            }
        }
    }
}

}  // namespace hueslice::io::detail
