#pragma once

#include <memory>

#include "GU_Detail.h"
#include "HOST_API.h"
#include "OP_Node.h"
#include "UT_Error.h"

// Group type code of primitive groups, for buildInputGroups.
constexpr unsigned SOP_GROUP_PRIMITIVE = 2;

// A geometry operator node: it owns an output detail and has geometry inputs.
class HOST_API SOP_Node : public OP_Network {
  public:
    SOP_Node(OP_Network* parent, const char* name, OP_Operator* op);
    ~SOP_Node() override;

    SOP_Node* castToSOPNode() const override { return const_cast<SOP_Node*>(this); }

    // Fills the node's output detail; the host calls it from cook().
    virtual UT_ErrorSeverity cookGeometry(OP_Context& context) = 0;
    virtual UT_ErrorSeverity cookMyGuide1(OP_Context&) { return UT_ERROR_NONE; }

    // Locks the inputs for a cook. An error severity, also recorded in error(), when input 0 is
    // not connected or its geometry could not be produced.
    UT_ErrorSeverity lockInputs(OP_Context& context);
    void unlockInputs();
    // Makes `detail` a copy of input `input`'s geometry. Without input geometry, `detail` is
    // emptied and the severity is an error.
    UT_ErrorSeverity duplicateSource(unsigned input, OP_Context& context, GU_Detail* detail,
                                     int clean = 1);
    // Fills `menu` (of `size` records) with the names of the groups of type `groupType` of input
    // `input`, ended by a record with a null token. Nothing but the end record when the input
    // has no geometry.
    void buildInputGroups(int input, PRM_Name* menu, int size, unsigned groupType, int unused,
                          bool unusedFlag, PRM_Parm* parm);

    // Host side.

    // Connects geometry to an input; null disconnects it.
    void setInput(unsigned input, std::shared_ptr<const GU_Detail> geometry);
    // Makes an input's geometry fail to be produced, at this severity.
    void setInputFailure(unsigned input, UT_ErrorSeverity severity);
    const GU_Detail* inputGeometry(unsigned input) const;
    // Cooks now, whatever the node's state; returns the cook's severity.
    UT_ErrorSeverity cook(fpreal time);
    // Cooks when the node is out of date; returns error().
    UT_ErrorSeverity cookIfNeeded(fpreal time);
    const GU_Detail* getCookedGeo() const { return gdp; }

  protected:
    GU_Detail* gdp;

  private:
    struct Input {
        std::shared_ptr<const GU_Detail> geometry;
        UT_ErrorSeverity failure = UT_ERROR_NONE;
    };
    const Input* input(unsigned index) const;

    std::unique_ptr<GU_Detail> output;
    std::vector<Input> inputs;
    bool locked = false;
};
