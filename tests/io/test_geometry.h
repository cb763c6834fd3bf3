#pragma once

// Small geometry builders and comparisons shared by the io tests.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "GU_Detail.h"

namespace hueslice::io::testing {

inline GU_Detail makeMesh(std::initializer_list<UT_Vector3> points,
                          std::initializer_list<std::vector<unsigned>> prims) {
    GU_Detail geo;
    for (const UT_Vector3& p : points)
        geo.appendPoint(p);
    for (const std::vector<unsigned>& prim : prims) {
        geo.appendPrimitive(prim.data(), static_cast<unsigned>(prim.size()));
    }
    return geo;
}

// A unit square as two triangles, in the z = 0 plane.
inline GU_Detail makeSquare() {
    return makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 3}});
}

inline void setColour(GU_Detail& geo, long long prim, float r, float g, float b) {
    const int offset = geo.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
    const float rgb[3] = {r, g, b};
    std::memcpy(geo.primitiveAttribData(prim) + offset, rgb, sizeof rgb);
}

inline std::vector<float> colourOf(const GU_Detail& geo, long long prim) {
    const int offset = geo.primitiveAttribs().getOffset("Cd", 12, GB_ATTRIB_FLOAT);
    if (offset < 0)
        return {};
    std::vector<float> rgb(3);
    std::memcpy(rgb.data(), geo.primitiveAttribData(prim) + offset, 12);
    return rgb;
}

inline bool sameFloat(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// Points, primitives, attributes (by bits, NaN matching any NaN) and groups are all equal.
inline void expectSameDetail(const GU_Detail& a, const GU_Detail& b) {
    ASSERT_EQ(a.pointCount(), b.pointCount());
    for (long long i = 0; i < a.pointCount(); ++i) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_TRUE(sameFloat(a.points()[i][c], b.points()[i][c])) << "point " << i;
        }
    }
    ASSERT_EQ(a.primitiveCount(), b.primitiveCount());
    for (long long i = 0; i < a.primitiveCount(); ++i) {
        const GB_Primitive& pa = *a.primitives()(i);
        const GB_Primitive& pb = *b.primitives()(i);
        ASSERT_EQ(pa.vertexCount, pb.vertexCount);
        EXPECT_EQ(0, std::memcmp(a.primitiveVertices(pa), b.primitiveVertices(pb),
                                 pa.vertexCount * sizeof(unsigned)));
    }
    const auto sameAttribs = [](const GB_AttributeDict& da, const GB_AttributeDict& db,
                                const auto& recordA, const auto& recordB, long long records) {
        ASSERT_EQ(da.attributes().size(), db.attributes().size());
        for (std::size_t k = 0; k < da.attributes().size(); ++k) {
            const GB_Attribute& x = da.attributes()[k];
            const GB_Attribute& y = db.attributes()[k];
            ASSERT_EQ(x.name, y.name);
            ASSERT_EQ(x.size, y.size);
            ASSERT_EQ(x.type, y.type);
            for (long long r = 0; r < records; ++r) {
                for (int c = 0; c < x.size / 4; ++c) {
                    float fa;
                    float fb;
                    std::memcpy(&fa, recordA(r) + x.offset + 4 * c, 4);
                    std::memcpy(&fb, recordB(r) + y.offset + 4 * c, 4);
                    EXPECT_TRUE(x.type == GB_ATTRIB_FLOAT ? sameFloat(fa, fb)
                                                          : std::memcmp(&fa, &fb, 4) == 0)
                        << x.name << " record " << r << " component " << c;
                }
            }
        }
    };
    sameAttribs(
        a.primitiveAttribs(), b.primitiveAttribs(),
        [&](long long r) { return a.primitiveAttribData(r); },
        [&](long long r) { return b.primitiveAttribData(r); }, a.primitiveCount());
    sameAttribs(
        a.detailAttribs(), b.detailAttribs(), [&](long long) { return a.detailAttribData(); },
        [&](long long) { return b.detailAttribData(); }, 1);
    const auto ga = a.primitiveGroups().groups();
    const auto gb = b.primitiveGroups().groups();
    ASSERT_EQ(ga.size(), gb.size());
    for (std::size_t k = 0; k < ga.size(); ++k) {
        EXPECT_STREQ(ga[k]->getName(), gb[k]->getName());
        EXPECT_EQ(ga[k]->members(), gb[k]->members()) << ga[k]->getName();
    }
}

// The message of the InputError that `read` throws, or "no error".
template <typename Read>
std::string inputErrorOf(Read&& read) {
    try {
        read();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace hueslice::io::testing
