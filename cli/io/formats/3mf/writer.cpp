#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <HOST_Internals.h>

#include "io/commit/output_batch.h"
#include "io/formats/3mf/3mf.h"
#include "io/formats/3mf/library.h"
#include "io/internal.h"
#include "io/parts/parts.h"

namespace hueslice::io {

namespace {

using namespace threemf;

// The package as it is written: lib3mf writes, seeks back and writes again.
struct Sink {
    std::string bytes;
    std::size_t position = 0;
};

std::uint32_t writeChunk(const std::uint8_t* data, std::uint32_t size, void* user) {
    Sink& sink = *static_cast<Sink*>(user);
    if (sink.position + size > sink.bytes.size())
        sink.bytes.resize(sink.position + size);
    std::memcpy(&sink.bytes[sink.position], data, size);
    sink.position += size;
    return 0;
}

std::uint32_t seekTo(std::uint64_t position, void* user) {
    Sink& sink = *static_cast<Sink*>(user);
    if (position > sink.bytes.size())
        sink.bytes.resize(position);
    sink.position = static_cast<std::size_t>(position);
    return 0;
}

}  // namespace

WrittenFile write3mf(const GU_Detail& geo, const std::vector<LegendEntry>& legend,
                     const std::string& name) {
    WrittenFile result;
    detail::PartPlan plan = detail::planParts(geo, legend, name);
    result.notes = std::move(plan.notes);
    if (plan.parts.empty())
        throw OutputError(name + ": there is no visible triangle to write");

    Handle model;
    if (lib3mf_createmodel(model.out()) != LIB3MF_OK)
        throw OutputError(name + ": cannot start the 3MF writer");
    PLib3MFModel* m = model.get();
    const auto ok = [&](LIB3MFRESULT r, PLib3MFBase* instance, const char* what) {
        check<OutputError>(r, instance, name, what);
    };
    ok(lib3mf_model_setunit(m, MODELUNIT_MILLIMETER), m, "cannot set the unit");
    Handle materials;
    ok(lib3mf_model_addbasematerialgroup(m, materials.out()), m, "cannot add materials");
    DWORD materialsId = 0;
    ok(lib3mf_basematerial_getresourceid(materials.get(), &materialsId), materials.get(),
       "cannot add materials");
    std::map<std::uint32_t, DWORD> entryOfColour;  // 0xRRGGBB -> entry, for the faces in no group
    const auto addEntry = [&](const std::string& entryName, const BYTE rgb[3]) {
        DWORD index = 0;
        ok(lib3mf_basematerial_addmaterialutf8(materials.get(), entryName.c_str(), rgb[0], rgb[1],
                                               rgb[2], &index),
           materials.get(), "cannot add a material");
        // Entries are added transparent; the parts are opaque.
        ok(lib3mf_basematerial_setdisplaycolorrgba(materials.get(), index, rgb[0], rgb[1], rgb[2],
                                                   255),
           materials.get(), "cannot colour a material");
        return index;
    };

    // Resources must come before what refers to them, so the parts are made first.
    std::vector<std::unique_ptr<Handle>> objects;
    std::vector<MODELMESHVERTEX> vertices;
    std::vector<MODELMESHTRIANGLE> triangles;
    std::vector<unsigned> scratch;
    detail::PartMesh mesh;
    for (const detail::Part& part : plan.parts) {
        detail::buildPartMesh(geo, part, scratch, mesh);
        vertices.resize(mesh.points.size());
        for (std::size_t i = 0; i < mesh.points.size(); ++i) {
            const UT_Vector3& p = geo.points()[mesh.points[i]];
            for (int c = 0; c < 3; ++c) {
                if (!std::isfinite(p[c])) {
                    throw OutputError(name + ": point " + std::to_string(mesh.points[i]) +
                                      " is not a finite position, which 3MF cannot carry");
                }
                vertices[i].m_fPosition[c] = p[c];
            }
        }
        triangles.resize(mesh.triangleFace.size());
        for (std::size_t t = 0; t < triangles.size(); ++t) {
            for (int k = 0; k < 3; ++k)
                triangles[t].m_nIndices[k] = mesh.triangles[3 * t + static_cast<std::size_t>(k)];
        }
        objects.push_back(std::make_unique<Handle>());
        Handle& object = *objects.back();
        ok(lib3mf_model_addmeshobject(m, object.out()), m, "cannot add a mesh object");
        if (!part.name.empty())
            ok(lib3mf_object_setnameutf8(object.get(), part.name.c_str()), object.get(),
               "cannot name a mesh object");
        ok(lib3mf_meshobject_setgeometry(object.get(), vertices.data(),
                                         static_cast<DWORD>(vertices.size()), triangles.data(),
                                         static_cast<DWORD>(triangles.size())),
           object.get(), "cannot store a mesh");

        DWORD defaultEntry = 0;
        if (part.name.empty() && plan.colourOffset >= 0) {
            // The faces in no group keep their own colours, one entry per distinct colour.
            std::vector<ModelResourceID> groups(triangles.size(), materialsId);
            std::vector<DWORD> entries(triangles.size());
            for (std::size_t t = 0; t < triangles.size(); ++t) {
                float rgb[3];
                detail::faceColour(geo, mesh.triangleFace[t], plan.colourOffset, rgb);
                const BYTE bytes[3] = {detail::colourByte(rgb[0]), detail::colourByte(rgb[1]),
                                       detail::colourByte(rgb[2])};
                const std::uint32_t key =
                    (std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2];
                auto found = entryOfColour.find(key);
                if (found == entryOfColour.end()) {
                    char label[8];
                    std::snprintf(label, sizeof label, "#%06X", key);
                    found = entryOfColour.emplace(key, addEntry(label, bytes)).first;
                }
                entries[t] = found->second;
            }
            defaultEntry = entries.front();
            Handle handler;
            ok(lib3mf_meshobject_createpropertyhandler(object.get(), handler.out()), object.get(),
               "cannot colour a mesh");
            ok(lib3mf_propertyhandler_setbasematerialarray(handler.get(), groups.data(),
                                                           entries.data()),
               handler.get(), "cannot colour a mesh");
        } else {
            const BYTE bytes[3] = {detail::colourByte(part.colour[0]),
                                   detail::colourByte(part.colour[1]),
                                   detail::colourByte(part.colour[2])};
            defaultEntry = addEntry(part.name.empty() ? "ungrouped" : part.name, bytes);
        }
        Handle defaults;
        ok(lib3mf_object_createdefaultpropertyhandler(object.get(), defaults.out()), object.get(),
           "cannot colour a mesh object");
        ok(lib3mf_defaultpropertyhandler_setbasematerial(defaults.get(), materialsId, defaultEntry),
           defaults.get(), "cannot colour a mesh object");
    }
    Handle assembly;
    ok(lib3mf_model_addcomponentsobject(m, assembly.out()), m, "cannot add the assembly");
    std::string modelName = name.substr(name.find_last_of('/') + 1);
    modelName = modelName.substr(0, modelName.find_last_of('.'));
    if (!modelName.empty())
        ok(lib3mf_object_setnameutf8(assembly.get(), modelName.c_str()), assembly.get(),
           "cannot name the assembly");
    for (const std::unique_ptr<Handle>& object : objects) {
        Handle component;
        ok(lib3mf_componentsobject_addcomponent(assembly.get(), object->get(), nullptr,
                                                component.out()),
           assembly.get(), "cannot add a part to the assembly");
    }
    Handle item;
    ok(lib3mf_model_addbuilditem(m, assembly.get(), nullptr, item.out()), m,
       "cannot add the build item");

    Handle writer;
    ok(lib3mf_model_querywriter(m, kPackageKind, writer.out()), m, "cannot start the 3MF writer");
    Sink sink;
    ok(lib3mf_writer_writetocallback(writer.get(), reinterpret_cast<void*>(&writeChunk),
                                     reinterpret_cast<void*>(&seekTo), &sink),
       writer.get(), "cannot write 3mf");
    result.bytes = std::move(sink.bytes);
    return result;
}
Notes stage3mf(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>& legend, bool) {
    return detail::stageWritten(batch, path, write3mf(detail, legend, path));
}

}  // namespace hueslice::io
