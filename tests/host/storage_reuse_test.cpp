#include <HOST_Internals.h>
#include <string>
#include <vector>

#include <GU_Detail.h>
#include <SOP_Node.h>
#include <gtest/gtest.h>

namespace {

std::vector<std::string> names(const GB_GroupList& list) {
    std::vector<std::string> result;
    for (const GB_PrimitiveGroup* g : list.groups())
        result.emplace_back(g->getName());
    return result;
}

// A destroyed group's object and storage are handed out again; nothing of its old self may
// show through.
TEST(GroupList, AGroupMadeAfterADestroyStartsEmptyUnderItsOwnName) {
    GU_Detail detail;
    GB_GroupList& list = detail.primitiveGroups();
    GB_PrimitiveGroup* old = list.newGroup("old");
    for (unsigned i = 0; i < 100; ++i)
        HOST_Internals::addMember(*old, i);
    detail.destroyGroup(old);
    EXPECT_EQ(list.find("old"), nullptr);

    GB_PrimitiveGroup* fresh = list.newGroup("fresh");
    EXPECT_STREQ(fresh->getName(), "fresh");
    EXPECT_EQ(fresh->entries(), 0u);
    EXPECT_FALSE(fresh->contains(5));
    EXPECT_EQ(list.find("fresh"), fresh);
    EXPECT_TRUE(list.owns(fresh));
    EXPECT_EQ(names(list), (std::vector<std::string>{"fresh"}));
}

TEST(Detail, CopyingOverADetailWithMoreGroupsGivesExactlyTheSourcesGroups) {
    GU_Detail source;
    HOST_Internals::addMember(*source.primitiveGroups().newGroup("b"), 7);
    GB_PrimitiveGroup* scattered = source.primitiveGroups().newGroup("a");
    HOST_Internals::addMember(*scattered, 9);
    HOST_Internals::addMember(*scattered, 2);  // out of order: held as a hash set

    GU_Detail target;
    for (const char* name : {"a", "x", "y", "z"}) {
        GB_PrimitiveGroup* g = target.primitiveGroups().newGroup(name);
        for (unsigned i = 0; i < 50; ++i)
            HOST_Internals::addMember(*g, i);
    }
    target = source;
    EXPECT_EQ(names(target.primitiveGroups()), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(target.primitiveGroups().find("b")->members(), (std::vector<unsigned>{7}));
    EXPECT_EQ(target.primitiveGroups().find("a")->members(), (std::vector<unsigned>{2, 9}));
    EXPECT_EQ(target.primitiveGroups().find("x"), nullptr);
    // The dropped groups are kept for reuse, not lost track of.
    EXPECT_GT(HOST_Internals::groupBytes(target), HOST_Internals::groupBytes(source));

    target.clearAndDestroy();
    EXPECT_EQ(target.primitiveGroups().entries(), 0u);
    EXPECT_EQ(HOST_Internals::groupBytes(target), 0u);
}

TEST(Group, MembersSetInBulkStayOrderedUnderLaterOutOfOrderAdds) {
    GB_PrimitiveGroup group("g");
    HOST_Internals::addMember(group, 4);
    HOST_Internals::addMember(group, 1);  // hash set
    HOST_Internals::setMembers(group, {3, 8});
    EXPECT_EQ(group.members(), (std::vector<unsigned>{3, 8}));
    HOST_Internals::addMember(group, 5);  // out of order after a bulk assignment
    EXPECT_EQ(group.members(), (std::vector<unsigned>{3, 5, 8}));
}

PRM_Name parmNames[] = {PRM_Name("count", "Count"), PRM_Name("flag%d", "Flag"),
                        PRM_Name("name%d", "Name")};
PRM_Template entryTemplates[] = {
    PRM_Template(PRM_Type(PRM_CODE_TOGGLE), 1, &parmNames[1], PRMoneDefaults),
    PRM_Template(PRM_Type(PRM_CODE_STRING_MENU), 1, &parmNames[2]),
    PRM_Template(),
};
PRM_Template topTemplates[] = {
    PRM_Template(PRM_MULTITYPE_LIST, entryTemplates, 0.0f, &parmNames[0], PRMoneDefaults, nullptr,
                 1),
    PRM_Template(),
};

class NullNode : public SOP_Node {
  public:
    using SOP_Node::SOP_Node;
    UT_ErrorSeverity cookGeometry(OP_Context&) override { return UT_ERROR_NONE; }
};

// Instances live in one growing array; a host dialog holds on to parameters while later
// instances are made.
TEST(Parameters, ParameterAddressesSurviveMakingLaterInstances) {
    OP_Operator op{"null", "Null", nullptr, topTemplates, 1, 1};
    NullNode node{nullptr, "n", &op};
    node.setInt("count", 0, 0, 1000);
    PRM_Parm* first = node.getParm("name1");
    ASSERT_NE(first, nullptr);
    first->setString("kept");
    for (int i = 2; i <= 1000; ++i)
        node.setIntInst(0, "flag%d", &i, 0, 0);
    EXPECT_EQ(node.getParm("name1"), first);
    EXPECT_EQ(first->evalString(), "kept");
    EXPECT_EQ(first->getToken(), "name1");
    EXPECT_EQ(node.allParms().size(), 1u + 2u * 1000u);
}

}  // namespace
