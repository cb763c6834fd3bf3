#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <GU_Group.h>
#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include "test_geometry.h"

namespace {

using testing_support::quadRow;

TEST(GroupList, NewGroupOfAKnownNameGivesThatGroupEmptied) {
    GU_Detail detail = quadRow({{1, 0, 0}, {0, 1, 0}});
    GB_PrimitiveGroup* first = detail.primitiveGroups().newGroup("a", 0);
    HOST_Internals::addMember(*first, 1);
    EXPECT_EQ(detail.primitiveGroups().newGroup("a", 0), first);
    EXPECT_EQ(first->entries(), 0u);
    EXPECT_EQ(detail.primitiveGroups().newGroup(nullptr, 0), nullptr);
    EXPECT_EQ(detail.primitiveGroups().newGroup("", 0), nullptr);
    EXPECT_EQ(detail.primitiveGroups().entries(), 1u);
}

TEST(GroupList, DestroyIgnoresNullAndForeignGroups) {
    GU_Detail a = quadRow({{1, 0, 0}});
    GU_Detail b = quadRow({{1, 0, 0}});
    GB_PrimitiveGroup* mine = a.primitiveGroups().newGroup("g", 0);
    GB_PrimitiveGroup* theirs = b.primitiveGroups().newGroup("g", 0);
    a.destroyGroup(nullptr);
    a.destroyGroup(theirs);
    EXPECT_EQ(a.primitiveGroups().find("g"), mine);
    EXPECT_EQ(b.primitiveGroups().find("g"), theirs);
    a.destroyGroup(mine);
    EXPECT_EQ(a.primitiveGroups().find("g"), nullptr);
    EXPECT_EQ(a.primitiveGroups().entries(), 0u);
}

TEST(Group, AddIsIdempotentInAnyOrder) {
    GB_PrimitiveGroup group("g");
    for (unsigned i : {1u, 5u, 5u, 9u, 3u, 9u, 1u, 0u})
        HOST_Internals::addMember(group, i);
    EXPECT_EQ(group.members(), (std::vector<unsigned>{0, 1, 3, 5, 9}));
    EXPECT_TRUE(group.contains(3));
    EXPECT_FALSE(group.contains(4));
    EXPECT_EQ(group.entries(), 5u);
}

TEST(Group, StorageGrowsWithMembersNotWithTheDetail) {
    GB_PrimitiveGroup group("g");
    HOST_Internals::addMember(group, 999999);
    HOST_Internals::addMember(group, 1000000);
    EXPECT_LT(HOST_Internals::groupBytes(group), 1024u);
}

TEST(PrimGroup, SubtractingTheGroupFromItsComplementLeavesThePrimitivesOutside) {
    GU_Detail detail = quadRow({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    GB_PrimitiveGroup* shown = detail.primitiveGroups().newGroup("shown", 0);
    HOST_Internals::addMember(*shown, 1);
    HOST_Internals::addMember(*shown, 3);
    GU_PrimGroup hidden(&detail, "hidden");
    GB_Group* h = hidden.group();
    ASSERT_NE(h, nullptr);
    detail.primitiveGroups().assignEqual(h, shown);
    EXPECT_TRUE(hidden.boolean(GU_GROUP_SUBTRACT, h, true, h, false));  // aliased operands
    EXPECT_EQ(h->members(), (std::vector<unsigned>{0, 2}));
    EXPECT_EQ(shown->members(), (std::vector<unsigned>{1, 3}));
}

TEST(Detail, CopiesAreDeepAndKeepAttributesAndGroups) {
    GU_Detail original = quadRow({{0.25f, 0.5f, 1}, {1, 0, 0}});
    HOST_Internals::addMember(*original.primitiveGroups().newGroup("g", 0), 1);
    GU_Detail copy(original);
    HOST_Internals::addMember(*copy.primitiveGroups().find("g"), 0);
    EXPECT_EQ(original.primitiveGroups().find("g")->entries(), 1u);
    EXPECT_EQ(copy.primitiveCount(), 2);
    const int offset = copy.primitiveAttribs().getOffset("Cd", 12, GB_ATTRIB_FLOAT);
    float c[3];
    std::memcpy(c, copy.primitiveAttribData(0) + offset, sizeof c);
    EXPECT_EQ(c[0], 0.25f);
    EXPECT_EQ(c[1], 0.5f);
}

TEST(Detail, AddingAnAttributeLaterKeepsEveryPrimitivesValues) {
    const std::vector<UT_Vector3> colours = {{0.25f, 0.5f, 1}, {2, 3, 4}, {5, 6, 7}};
    GU_Detail detail = quadRow(colours);
    const int extra = detail.addPrimitiveAttrib("w", 4, GB_ATTRIB_FLOAT);
    ASSERT_GE(extra, 0);
    const int cd = detail.primitiveAttribs().getOffset("Cd", 12, GB_ATTRIB_FLOAT);
    ASSERT_GE(cd, 0);
    for (size_t p = 0; p < colours.size(); ++p) {
        float c[3], w = -1.0f;
        std::memcpy(c, detail.primitiveAttribData(static_cast<long long>(p)) + cd, sizeof c);
        std::memcpy(&w, detail.primitiveAttribData(static_cast<long long>(p)) + extra, sizeof w);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(c[k], colours[p][k]) << "primitive " << p << " component " << k;
        EXPECT_EQ(w, 0.0f) << "the new attribute starts at zero";
    }
    EXPECT_EQ(detail.addPrimitiveAttrib("w", 8, GB_ATTRIB_FLOAT), -1) << "clash";
    EXPECT_EQ(detail.primitiveAttribs().getOffset("w", 4, GB_ATTRIB_INT), -1) << "wrong type";
}

// A copy shares the original's storage until one of the two changes; then the change must land
// in that detail alone, whichever side makes it and whatever kind of change it is.
struct ChangeCase {
    const char* what;
    void (*change)(GU_Detail&);
};

void writeFirstColour(GU_Detail& d) {
    const float red[3] = {9, 9, 9};
    std::memcpy(d.primitiveAttribData(0) + d.primitiveAttribs().getOffset("Cd", 12, 0), red,
                sizeof red);
}
void appendPointAndPrimitive(GU_Detail& d) {
    const unsigned quad[3] = {0, 1, static_cast<unsigned>(d.appendPoint(UT_Vector3(7, 7, 7)))};
    d.appendPrimitive(quad, 3);
}
void addAttribute(GU_Detail& d) {
    d.addPrimitiveAttrib("w", 4, GB_ATTRIB_FLOAT);
}
void reserveMore(GU_Detail& d) {
    d.reservePrimitives(1000, 4000);
    d.reservePoints(4000);
}
void punchHole(GU_Detail& d) {
    HOST_Internals::makeHole(d, 0);
}
void reverseRecords(GU_Detail& d) {
    HOST_Internals::reverseRecords(d);
    writeFirstColour(d);
}
void clearAll(GU_Detail& d) {
    d.clearAndDestroy();
}

struct Snapshot {
    long long points, prims;
    bool firstIsHole;
    std::vector<float> firstColours;
    bool hasW;

    explicit Snapshot(const GU_Detail& d)
        : points(d.pointCount()),
          prims(d.primitiveCount()),
          firstIsHole(d.primitives()(0) == nullptr),
          hasW(d.primitiveAttribs().find("w") != nullptr) {
        const int cd = d.primitiveAttribs().getOffset("Cd", 12, 0);
        for (long long i = 0; i < d.primitiveCount() && cd >= 0; ++i) {
            // Through the primitive's own record, as a plug-in reads it.
            if (const GB_Primitive* prim = d.primitives()(i)) {
                float c[3];
                std::memcpy(c, prim->getAttribData() + cd, sizeof c);
                firstColours.insert(firstColours.end(), c, c + 3);
            }
        }
    }
    bool operator==(const Snapshot& o) const {
        return points == o.points && prims == o.prims && firstIsHole == o.firstIsHole &&
               firstColours == o.firstColours && hasW == o.hasW;
    }
};

TEST(Detail, AChangeToAnOriginalOrItsCopyStaysInThatDetail) {
    const ChangeCase cases[] = {
        {"record write", writeFirstColour},
        {"append", appendPointAndPrimitive},
        {"attribute", addAttribute},
        {"reserve", reserveMore},
        {"hole", punchHole},
        {"records moved", reverseRecords},
        {"clear", clearAll},
    };
    for (const ChangeCase& c : cases) {
        for (const bool changeCopy : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (changeCopy ? " on the copy" : " on the original"));
            GU_Detail original = quadRow({{0.25f, 0.5f, 1}, {1, 0, 0}, {0, 1, 0}});
            GU_Detail copy;
            copy = original;
            const Snapshot before(original);
            GU_Detail& changed = changeCopy ? copy : original;
            const GU_Detail& untouched = changeCopy ? original : copy;
            c.change(changed);
            EXPECT_TRUE(Snapshot(untouched) == before);
            if (c.change != reserveMore) {
                EXPECT_FALSE(Snapshot(changed) == before);
            }
            // The changed detail writes its own records after the split.
            if (changed.primitiveCount() > 0) {
                writeFirstColour(changed);
                EXPECT_TRUE(Snapshot(untouched) == before);
            }
        }
    }
}

// Builds primitives of the given vertex counts over distinct points, in order, and checks that
// each reads back its own vertices, also from a copy made before the last primitive.
void checkVerticesOf(const std::vector<unsigned>& counts) {
    GU_Detail detail;
    std::vector<std::vector<unsigned>> expected;
    unsigned next = 0;
    GU_Detail before;
    for (std::size_t p = 0; p < counts.size(); ++p) {
        std::vector<unsigned> vertices;
        for (unsigned v = 0; v < counts[p]; ++v, ++next) {
            detail.appendPoint(UT_Vector3(static_cast<float>(next), 0, 0));
            vertices.push_back(next);
        }
        if (p + 1 == counts.size())
            before = detail;
        detail.appendPrimitive(vertices.data(), counts[p]);
        expected.push_back(vertices);
    }
    const auto verticesOf = [](const GU_Detail& d, long long i) {
        const GB_Primitive& prim = *d.primitives()(i);
        const unsigned* v = d.primitiveVertices(prim);
        return std::vector<unsigned>(v, v + prim.vertexCount);
    };
    for (std::size_t p = 0; p < counts.size(); ++p) {
        EXPECT_EQ(verticesOf(detail, static_cast<long long>(p)), expected[p]) << "primitive " << p;
        if (p + 1 < counts.size()) {
            EXPECT_EQ(verticesOf(before, static_cast<long long>(p)), expected[p]);
        }
    }
    EXPECT_EQ(before.primitiveCount() + 1, detail.primitiveCount());
}

TEST(Detail, VerticesReadBackWhereverPrimitiveSizesChange) {
    const std::vector<unsigned> cases[] = {
        {3},       {4, 4, 4}, {4, 3, 3}, {3, 3, 4},       {3, 4, 3, 4},
        {0, 4, 4}, {4, 0, 4}, {4, 4, 0}, {5, 5, 5, 5, 2},
    };
    for (const auto& counts : cases) {
        SCOPED_TRACE(::testing::PrintToString(counts));
        checkVerticesOf(counts);
    }
}

TEST(Detail, ACopyOutlivesItsOriginal) {
    auto original = std::make_unique<GU_Detail>(quadRow({{0.25f, 0.5f, 1}, {1, 0, 0}}));
    const GU_Detail copy(*original);
    original.reset();
    const Snapshot after(copy);
    EXPECT_EQ(after.prims, 2);
    EXPECT_EQ(after.firstColours, (std::vector<float>{0.25f, 0.5f, 1, 1, 0, 0}));
}

}  // namespace
