#include "SOP_Node.h"

SOP_Node::SOP_Node(OP_Network* parentNet, const char* nodeLabel, OP_Operator* opType)
    : OP_Network(parentNet, nodeLabel, opType), output(std::make_unique<GU_Detail>()) {
    gdp = output.get();
}

SOP_Node::~SOP_Node() = default;

const SOP_Node::Input* SOP_Node::input(unsigned index) const {
    return index < inputs.size() ? &inputs[index] : nullptr;
}

UT_ErrorSeverity SOP_Node::lockInputs(OP_Context&) {
    const Input* in = input(0);
    if (!in || (!in->geometry && in->failure == UT_ERROR_NONE)) {
        addError(UT_ERROR_ABORT);
        return UT_ERROR_ABORT;
    }
    if (in->failure != UT_ERROR_NONE) {
        addError(in->failure);
        return in->failure;
    }
    locked = true;
    return UT_ERROR_NONE;
}

void SOP_Node::unlockInputs() {
    locked = false;
}

UT_ErrorSeverity SOP_Node::duplicateSource(unsigned index, OP_Context&, GU_Detail* detail, int) {
    const Input* in = input(index);
    if (!detail)
        return UT_ERROR_ABORT;
    if (!in || !in->geometry) {
        detail->clearAndDestroy();
        addError(UT_ERROR_ABORT);
        return UT_ERROR_ABORT;
    }
    if (detail != in->geometry.get())
        *detail = *in->geometry;
    return UT_ERROR_NONE;
}

void SOP_Node::buildInputGroups(int index, PRM_Name* menu, int size, unsigned groupType, int, bool,
                                PRM_Parm*) {
    if (!menu || size < 1)
        return;
    int used = 0;
    const Input* in = index >= 0 ? input(static_cast<unsigned>(index)) : nullptr;
    if (in && in->geometry && groupType == SOP_GROUP_PRIMITIVE) {
        for (const GB_PrimitiveGroup* g : in->geometry->primitiveGroups().groups()) {
            if (used + 1 >= size)
                break;  // keep room for the end record
            menu[used].setToken(g->getName());
            menu[used].setLabel(g->getName());
            ++used;
        }
    }
    menu[used].setToken(nullptr);
    menu[used].setLabel(nullptr);
}

void SOP_Node::setInput(unsigned index, std::shared_ptr<const GU_Detail> geometry) {
    if (inputs.size() <= index)
        inputs.resize(index + 1);
    inputs[index] = Input{std::move(geometry), UT_ERROR_NONE};
    forceRecook();
}

void SOP_Node::setInputFailure(unsigned index, UT_ErrorSeverity failure) {
    if (inputs.size() <= index)
        inputs.resize(index + 1);
    inputs[index] = Input{nullptr, failure};
    forceRecook();
}

const GU_Detail* SOP_Node::inputGeometry(unsigned index) const {
    const Input* in = input(index);
    return in ? in->geometry.get() : nullptr;
}

UT_ErrorSeverity SOP_Node::cook(fpreal time) {
    clearErrors();
    OP_Context context(time);
    const UT_ErrorSeverity result = cookGeometry(context);
    // A cook must not leave its inputs locked, whatever path it took.
    locked = false;
    markCooked();
    return result;
}

UT_ErrorSeverity SOP_Node::cookIfNeeded(fpreal time) {
    if (needsCook())
        cook(time);
    return error();
}
