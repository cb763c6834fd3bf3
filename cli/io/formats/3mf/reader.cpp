#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include <HOST_Internals.h>

#include "io/formats/3mf/3mf.h"
#include "io/formats/3mf/library.h"
#include "io/formats/3mf/scan.h"
#include "io/input/input_file.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

using namespace threemf;

// Row-vector affine transform as 3MF gives it: fields[row][3] is the translation.
struct Affine {
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};

Affine fromModel(const MODELTRANSFORM& t) {
    Affine a;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c)
            a.m[r][c] = t.m_fFields[r][c];
    }
    return a;
}

// `outer` applied after `inner`.
Affine compose(const Affine& outer, const Affine& inner) {
    Affine r;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            double sum = j == 3 ? outer.m[i][3] : 0.0;
            for (int k = 0; k < 3; ++k)
                sum += outer.m[i][k] * inner.m[k][j];
            r.m[i][j] = sum;
        }
    }
    return r;
}

double millimetresPer(DWORD unit) {
    switch (unit) {
        case MODELUNIT_MICROMETER:
            return 0.001;
        case MODELUNIT_CENTIMETER:
            return 10.0;
        case MODELUNIT_INCH:
            return 25.4;
        case MODELUNIT_FOOT:
            return 304.8;
        case MODELUNIT_METER:
            return 1000.0;
        default:
            return 1.0;
    }
}

const char* unitName(DWORD unit) {
    switch (unit) {
        case MODELUNIT_MICROMETER:
            return "micron";
        case MODELUNIT_CENTIMETER:
            return "centimeter";
        case MODELUNIT_INCH:
            return "inch";
        case MODELUNIT_FOOT:
            return "foot";
        case MODELUNIT_METER:
            return "meter";
        default:
            return "millimeter";
    }
}

class ModelReader {
  public:
    ModelReader(PLib3MFModel* m, const std::string& n, const detail::PackageScan& s)
        : model(m), name(n), scan(s) {}

    Notes read(GU_Detail& out) {
        // Reserved once from the counts: reserving per placed mesh copied the points each time.
        const auto capped = [](unsigned long long n) {
            return static_cast<std::size_t>(std::min(n, detail::kMaxPlaced));
        };
        geo.reservePoints(capped(scan.placed.vertices));
        numberObjects();
        colours.reserve(3 * capped(scan.placed.triangles));
        DWORD unit = MODELUNIT_MILLIMETER;
        lib3mf_model_getunit(model, &unit);
        scale = millimetresPer(unit);
        if (unit != MODELUNIT_MILLIMETER) {
            notes.push_back(name + ": model unit is " + unitName(unit) +
                            "; coordinates converted to millimeters");
        }
        Handle items;
        check<InputError>(lib3mf_model_getbuilditems(model, items.out()), model, name,
                          "cannot list the build items");
        BOOL more = false;
        int itemNumber = 0;
        while (lib3mf_builditemiterator_movenext(items.get(), &more) == LIB3MF_OK && more) {
            Handle item;
            check<InputError>(lib3mf_builditemiterator_getcurrent(items.get(), item.out()),
                              items.get(), name,
                              "cannot read build item " + std::to_string(itemNumber));
            Handle object;
            check<InputError>(lib3mf_builditem_getobjectresource(item.get(), object.out()),
                              item.get(), name,
                              "build item " + std::to_string(itemNumber) + " has no object");
            Affine placement;
            BOOL hasTransform = false;
            if (lib3mf_builditem_hasobjecttransform(item.get(), &hasTransform) == LIB3MF_OK &&
                hasTransform) {
                MODELTRANSFORM t;
                check<InputError>(lib3mf_builditem_getobjecttransform(item.get(), &t), item.get(),
                                  name, "cannot read build item transform");
                placement = fromModel(t);
            }
            addObject(object.get(), placement, 0);
            ++itemNumber;
        }
        if (anyColour) {
            detail::setFaceColours(geo, colours);
            if (uncoloured > 0) {
                notes.push_back(name + ": " +
                                detail::countOf(uncoloured, "triangle has", "triangles have") +
                                " no colour and are white");
            }
        }
        out = geo;
        return std::move(notes);
    }

    // Faces with a colour of their own, and faces without one (white when others have one).
    ColourSource source() const {
        ColourSource counts;
        counts.noColour = static_cast<long long>(uncoloured);
        counts.ownColour = geo.primitiveCount() - counts.noColour;
        return counts;
    }

  private:
    // Components nest; lib3mf refuses cycles, and this depth bound keeps a deep chain from
    // exhausting the stack.
    static constexpr int kMaxDepth = detail::kMaxComponentDepth;

    void addObject(PLib3MFModelObjectResource* object, const Affine& placement, int depth) {
        if (depth > kMaxDepth)
            throw InputError(name + ": components nest more than " + std::to_string(kMaxDepth) +
                             " deep");
        for (const auto& row : placement.m) {
            for (const double value : row) {
                if (!std::isfinite(value)) {
                    throw InputError(name + ": " + objectLabel(object) +
                                     " is placed by a transform that is not finite");
                }
            }
        }
        BOOL isMesh = false;
        BOOL isComponents = false;
        lib3mf_object_ismeshobject(object, &isMesh);
        lib3mf_object_iscomponentsobject(object, &isComponents);
        if (isMesh) {
            addMesh(object, placement);
            return;
        }
        if (!isComponents)
            return;
        DWORD count = 0;
        check<InputError>(lib3mf_componentsobject_getcomponentcount(object, &count), object, name,
                          "cannot read components");
        for (DWORD i = 0; i < count; ++i) {
            Handle component;
            check<InputError>(lib3mf_componentsobject_getcomponent(object, i, component.out()),
                              object, name, "cannot read component " + std::to_string(i));
            Handle child;
            check<InputError>(lib3mf_component_getobjectresource(component.get(), child.out()),
                              component.get(), name,
                              "component " + std::to_string(i) + " has no object");
            Affine local;
            BOOL hasTransform = false;
            if (lib3mf_component_hastransform(component.get(), &hasTransform) == LIB3MF_OK &&
                hasTransform) {
                MODELTRANSFORM t;
                check<InputError>(lib3mf_component_gettransform(component.get(), &t),
                                  component.get(), name, "cannot read component transform");
                local = fromModel(t);
            }
            addObject(child.get(), compose(placement, local), depth + 1);
        }
    }

    // Each object's place among the model's objects, by the library's resource id.
    void numberObjects() {
        Handle objects;
        check<InputError>(lib3mf_model_getobjects(model, objects.out()), model, name,
                          "cannot list the objects");
        BOOL more = false;
        while (lib3mf_resourceiterator_movenext(objects.get(), &more) == LIB3MF_OK && more) {
            Handle object;
            check<InputError>(lib3mf_resourceiterator_getcurrent(objects.get(), object.out()),
                              objects.get(), name, "cannot list the objects");
            objectOrdinal.emplace(resourceId(object.get()), objectOrdinal.size());
        }
    }

    static DWORD resourceId(PLib3MFModelResource* resource) {
        DWORD id = 0;
        lib3mf_resource_getresourceid(resource, &id);
        return id;
    }

    // "object 3 'arm'", or "object 3" for an object without a name.
    static std::string objectLabel(PLib3MFModelObjectResource* object) {
        const std::string objectName = utf8([&](LPSTR buffer, ULONG size, ULONG* needed) {
            return lib3mf_object_getnameutf8(object, buffer, size, needed);
        });
        return "object " + std::to_string(resourceId(object)) +
               (objectName.empty() ? "" : " '" + printable(objectName) + "'");
    }

    // The colour of triangle `t` when it gives p1 without a pid (see references.h).
    static bool useIndexColour(const std::unordered_map<std::size_t, std::array<float, 3>>& byIndex,
                               DWORD t, float rgb[3]) {
        const auto found = byIndex.find(t);
        if (found == byIndex.end())
            return false;
        std::copy(found->second.begin(), found->second.end(), rgb);
        return true;
    }

    // The display colour of a base material entry, cached by group and index.
    bool baseColour(DWORD group, DWORD index, float rgb[3]) {
        const std::uint64_t key = (std::uint64_t{group} << 32) | index;
        auto found = materialColours.find(key);
        if (found == materialColours.end()) {
            std::array<float, 4> value{0, 0, 0, 0};
            Handle material;
            BYTE r = 0, g = 0, b = 0, a = 0;
            if (lib3mf_model_getbasematerialbyid(model, group, material.out()) == LIB3MF_OK &&
                lib3mf_basematerial_getdisplaycolor(material.get(), index, &r, &g, &b, &a) ==
                    LIB3MF_OK) {
                value = {r / 255.0f, g / 255.0f, b / 255.0f, 1.0f};
            }
            found = materialColours.emplace(key, value).first;
        }
        if (found->second[3] == 0.0f)
            return false;
        std::memcpy(rgb, found->second.data(), 3 * sizeof(float));
        return true;
    }

    // The colour of the object's default property, when it has one.
    bool defaultColour(PLib3MFModelObjectResource* object, float rgb[3]) {
        Handle handler;
        if (lib3mf_object_createdefaultpropertyhandler(object, handler.out()) != LIB3MF_OK)
            return false;
        eModelPropertyType type = MODELPROPERTYTYPE_NONE;
        if (lib3mf_defaultpropertyhandler_getpropertytype(handler.get(), &type) != LIB3MF_OK)
            return false;
        if (type == MODELPROPERTYTYPE_BASEMATERIALS) {
            DWORD group = 0;
            DWORD index = 0;
            if (lib3mf_defaultpropertyhandler_getbasematerial(handler.get(), &group, &index) !=
                LIB3MF_OK) {
                return false;
            }
            if (!baseColour(group, index, rgb))
                missingReference("an object's default property", group, index);
            return true;
        }
        if (type == MODELPROPERTYTYPE_COLOR) {
            MODELMESHCOLOR_SRGB c{};
            if (lib3mf_defaultpropertyhandler_getcolor(handler.get(), 0, &c) != LIB3MF_OK)
                return false;
            rgb[0] = c.m_Red / 255.0f;
            rgb[1] = c.m_Green / 255.0f;
            rgb[2] = c.m_Blue / 255.0f;
            return true;
        }
        return false;
    }

    [[noreturn]] void missingReference(const std::string& what, DWORD group, DWORD index) {
        throw InputError(name + ": " + what + " refers to entry " + std::to_string(index) +
                         " of resource " + std::to_string(group) + ", which does not exist");
    }

    void addMesh(PLib3MFModelMeshObject* mesh, const Affine& placement) {
        const std::string objectName = utf8([&](LPSTR buffer, ULONG size, ULONG* needed) {
            return lib3mf_object_getnameutf8(mesh, buffer, size, needed);
        });
        DWORD vertexCount = 0;
        DWORD triangleCount = 0;
        check<InputError>(lib3mf_meshobject_getvertexcount(mesh, &vertexCount), mesh, name,
                          "cannot read a mesh");
        check<InputError>(lib3mf_meshobject_gettrianglecount(mesh, &triangleCount), mesh, name,
                          "cannot read a mesh");
        std::vector<MODELMESHVERTEX> vertices(vertexCount);
        std::vector<MODELMESHTRIANGLE> triangles(triangleCount);
        DWORD got = 0;
        if (vertexCount > 0) {
            check<InputError>(
                lib3mf_meshobject_getvertices(mesh, vertices.data(), vertexCount, &got), mesh, name,
                "cannot read the vertices of a mesh");
        }
        if (triangleCount > 0) {
            check<InputError>(
                lib3mf_meshobject_gettriangleindices(mesh, triangles.data(), triangleCount, &got),
                mesh, name, "cannot read the triangles of a mesh");
        }

        float fallback[3] = {1.0f, 1.0f, 1.0f};
        const bool hasDefault = defaultColour(mesh, fallback);
        Handle handler;
        const bool perTriangle =
            lib3mf_meshobject_createpropertyhandler(mesh, handler.out()) == LIB3MF_OK;
        const auto ordinal = objectOrdinal.find(resourceId(mesh));
        const auto indexColours = ordinal == objectOrdinal.end()
                                      ? scan.indexColours.end()
                                      : scan.indexColours.find(ordinal->second);
        const auto* byIndex =
            indexColours == scan.indexColours.end() ? nullptr : &indexColours->second;

        const auto firstPoint = static_cast<unsigned long long>(geo.pointCount());
        for (const MODELMESHVERTEX& v : vertices) {
            float p[3];
            for (int r = 0; r < 3; ++r) {
                const double value =
                    scale *
                    (placement.m[r][0] * v.m_fPosition[0] + placement.m[r][1] * v.m_fPosition[1] +
                     placement.m[r][2] * v.m_fPosition[2] + placement.m[r][3]);
                if (!std::isfinite(value) || !detail::narrowToFloat(value, p[r])) {
                    throw InputError(name + ": a vertex of " + objectLabel(mesh) +
                                     " is out of range once placed");
                }
            }
            geo.appendPoint(UT_Vector3(p[0], p[1], p[2]));
        }
        GB_PrimitiveGroup* group = nullptr;
        if (!objectName.empty()) {
            group = geo.primitiveGroups().find(objectName.c_str());
            if (!group)
                group = geo.primitiveGroups().newGroup(objectName.c_str());
        }
        for (DWORD t = 0; t < triangleCount; ++t) {
            unsigned v[3];
            for (int k = 0; k < 3; ++k) {
                const DWORD index = triangles[t].m_nIndices[k];
                if (index >= vertexCount) {
                    throw InputError(name + ": triangle " + std::to_string(t) + " of object '" +
                                     objectName + "' uses vertex " + std::to_string(index) +
                                     " but " + detail::thereAre(vertexCount, "vertex", "vertices"));
                }
                v[k] = static_cast<unsigned>(firstPoint + index);
            }
            const long long face = geo.appendPrimitive(v, 3);
            if (group)
                HOST_Internals::addMember(*group, static_cast<unsigned>(face));
            float rgb[3] = {fallback[0], fallback[1], fallback[2]};
            bool coloured = hasDefault;
            if (byIndex && useIndexColour(*byIndex, t, rgb))
                coloured = true;
            else if (perTriangle && triangleColour(handler.get(), t, rgb))
                coloured = true;
            if (coloured)
                anyColour = true;
            else
                ++uncoloured;
            colours.insert(colours.end(), rgb, rgb + 3);
        }
    }

    // A triangle's own property: a base material's display colour, or its first corner's
    // colour-group colour.
    bool triangleColour(PLib3MFPropertyHandler* handler, DWORD t, float rgb[3]) {
        eModelPropertyType type = MODELPROPERTYTYPE_NONE;
        if (lib3mf_propertyhandler_getpropertytype(handler, t, &type) != LIB3MF_OK)
            return false;
        if (type == MODELPROPERTYTYPE_BASEMATERIALS) {
            DWORD group = 0;
            DWORD index = 0;
            if (lib3mf_propertyhandler_getbasematerial(handler, t, &group, &index) != LIB3MF_OK)
                return false;
            if (!baseColour(group, index, rgb))
                missingReference("triangle " + std::to_string(t), group, index);
            return true;
        }
        if (type == MODELPROPERTYTYPE_COLOR) {
            MODELMESH_TRIANGLECOLOR_SRGB c{};
            if (lib3mf_propertyhandler_getcolor(handler, t, &c) != LIB3MF_OK)
                return false;
            rgb[0] = c.m_Colors[0].m_Red / 255.0f;
            rgb[1] = c.m_Colors[0].m_Green / 255.0f;
            rgb[2] = c.m_Colors[0].m_Blue / 255.0f;
            return true;
        }
        return false;
    }

    PLib3MFModel* model;
    const std::string& name;
    const detail::PackageScan& scan;
    std::unordered_map<DWORD, std::size_t> objectOrdinal;
    GU_Detail geo;
    std::vector<float> colours;  // per face
    Notes notes;
    std::unordered_map<std::uint64_t, std::array<float, 4>> materialColours;
    double scale = 1.0;
    bool anyColour = false;
    unsigned long long uncoloured = 0;
};
}  // namespace

Notes read3mf(std::string_view bytes, const std::string& name, GU_Detail& out,
              ColourSource* source) {
    Handle model;
    if (lib3mf_createmodel(model.out()) != LIB3MF_OK)
        throw InputError(name + ": cannot start the 3MF reader");
    Handle reader;
    check<InputError>(lib3mf_model_queryreader(model.get(), kPackageKind, reader.out()),
                      model.get(), name, "cannot start the 3MF reader");
    if (bytes.empty())
        throw InputError(name + ": empty file, not a 3MF package");
    const detail::PackageScan scan = detail::scanPackage(bytes, name);
    std::vector<BYTE> copy(bytes.begin(), bytes.end());
    if (lib3mf_reader_readfrombuffer(reader.get(), copy.data(), copy.size()) != LIB3MF_OK) {
        const std::string missing = detail::missingPart(bytes);
        throw InputError(name + ": cannot read 3mf: " +
                         (missing.empty() ? lastError(reader.get())
                                          : "the package has no part \"" + printable(missing) +
                                                "\", which a relationship names"));
    }
    ModelReader modelReader(model.get(), name, scan);
    Notes notes = modelReader.read(out);
    if (source)
        *source = modelReader.source();
    DWORD warnings = 0;
    if (lib3mf_reader_getwarningcount(reader.get(), &warnings) == LIB3MF_OK && warnings > 0) {
        DWORD code = 0;
        const std::string first = utf8([&](LPSTR buffer, ULONG size, ULONG* needed) {
            return lib3mf_reader_getwarningutf8(reader.get(), 0, &code, buffer, size, needed);
        });
        notes.push_back(name + ": the 3MF reader gave " +
                        detail::countOf(warnings, "warning", "warnings") + ", the first: " + first);
    }
    return notes;
}

Notes read3mfFile(const std::string& path, GU_Detail& out, const ReadOptions&,
                  ColourSource* source) {
    return read3mf(readWholeFile(path), path, out, source);
}

}  // namespace hueslice::io
