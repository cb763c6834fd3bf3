#pragma once

#include <memory>
#include <string>
#include <vector>

#include <HOST_Session.h>
#include <gtest/gtest.h>
#include <parms/parm_templates.h>
#include <sop/SOP_Hueslice.h>

#include "test_geometry.h"

namespace testing_support {

// A session with the operator registered straight from the node's code (no plug-in loading) and
// one node in it.
class NodeTest : public ::testing::Test {
  protected:
    NodeTest() {
        session.operatorTable().addOperator(new OP_Operator(
            "hueslice", "Hueslice", hueslice::constructNode, hueslice::parmTemplates, 1, 1));
        node = static_cast<hueslice::SOP_Hueslice*>(session.createNode("hueslice"));
    }

    void setInput(const GU_Detail& detail) {
        node->setInput(0, std::make_shared<const GU_Detail>(detail));
    }

    void setCount(int count) { node->setInt("numobj", 0, 0.0, count); }

    void setEntry(int i, const char* name, UT_Vector3 colour, bool enabled = true,
                  bool isolate = false) {
        if (node->evalInt("numobj", 0, 0.0) < i)
            setCount(i);
        for (int c = 0; c < 3; ++c)
            node->setFloatInst(colour[c], "col%d", &i, c, 0.0);
        node->setStringInst(UT_String(name), "group%d", &i, 0, 0.0);
        node->setIntInst(enabled ? 1 : 0, "enable%d", &i, 0, 0.0);
        node->setIntInst(isolate ? 1 : 0, "isolate%d", &i, 0, 0.0);
    }

    std::string name(int i) const {
        UT_String text;
        node->evalStringInst("group%d", &i, text, 0, 0.0);
        return text.buffer() ? text.buffer() : "<absent>";
    }

    UT_Vector3 colour(int i) const {
        return UT_Vector3(static_cast<float>(node->evalFloatInst("col%d", &i, 0, 0.0)),
                          static_cast<float>(node->evalFloatInst("col%d", &i, 1, 0.0)),
                          static_cast<float>(node->evalFloatInst("col%d", &i, 2, 0.0)));
    }

    const GU_Detail& cook(fpreal time = 0.0) {
        node->cook(time);
        return *node->getCookedGeo();
    }

    HOST_Session session;
    hueslice::SOP_Hueslice* node = nullptr;
};

}  // namespace testing_support
