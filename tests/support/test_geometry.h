#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <GU_Detail.h>
#include <UT_Vector3.h>

namespace testing_support {

// Name of the int attribute that records each primitive's index in the geometry a test built.
constexpr const char* kOriginalIndex = "orig";

// A row of unit quads, primitive i coloured colours[i] through `attribute`:
//
//   3---2 5---4 ...
//   | 0 | | 1 |
//   0---1 2---3 ...   (each quad has its own four points)
//
// Every primitive also carries its index in "orig".
inline GU_Detail quadRow(const std::vector<UT_Vector3>& colours, const char* attribute = "Cd") {
    GU_Detail detail;
    const int colourOffset = detail.addPrimitiveAttrib(attribute, 12, GB_ATTRIB_FLOAT);
    const int origOffset = detail.addPrimitiveAttrib(kOriginalIndex, 4, GB_ATTRIB_INT);
    for (size_t i = 0; i < colours.size(); ++i) {
        const float x = static_cast<float>(i) * 2.0f;
        const unsigned base = static_cast<unsigned>(detail.pointCount());
        detail.appendPoint(UT_Vector3(x, 0, 0));
        detail.appendPoint(UT_Vector3(x + 1, 0, 0));
        detail.appendPoint(UT_Vector3(x + 1, 1, 0));
        detail.appendPoint(UT_Vector3(x, 1, 0));
        const unsigned quad[4] = {base, base + 1, base + 2, base + 3};
        const long long prim = detail.appendPrimitive(quad, 4);
        const float c[3] = {colours[i][0], colours[i][1], colours[i][2]};
        std::memcpy(detail.primitiveAttribData(prim) + colourOffset, c, sizeof c);
        const std::int32_t orig = static_cast<std::int32_t>(i);
        std::memcpy(detail.primitiveAttribData(prim) + origOffset, &orig, sizeof orig);
    }
    return detail;
}

inline void setLayer(GU_Detail& detail, std::int32_t layer) {
    const int offset = detail.addDetailAttrib("currentlayer", 4, GB_ATTRIB_INT);
    std::memcpy(detail.detailAttribData() + offset, &layer, sizeof layer);
}

// The "orig" values of a group's members, or {-1} when the group does not exist.
inline std::vector<int> originalIndices(const GU_Detail& detail, const char* group) {
    const GB_PrimitiveGroup* g = detail.primitiveGroups().find(group);
    if (!g)
        return {-1};
    const int offset = detail.primitiveAttribs().getOffset(kOriginalIndex, 4, GB_ATTRIB_INT);
    std::vector<int> result;
    for (unsigned m : g->members()) {
        std::int32_t orig = -1;
        if (offset >= 0)
            std::memcpy(&orig, detail.primitiveAttribData(m) + offset, sizeof orig);
        result.push_back(orig);
    }
    return result;
}

inline std::vector<std::string> groupNames(const GU_Detail& detail) {
    std::vector<std::string> names;
    for (const GB_PrimitiveGroup* g : detail.primitiveGroups().groups()) {
        names.emplace_back(g->getName());
    }
    return names;
}

}  // namespace testing_support
