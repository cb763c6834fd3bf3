#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "OP_Node.h"

OP_Node::OP_Node(OP_Network* parent, const char* name, OP_Operator* opType)
    : OP_Parameters(opType), parentNetwork(parent), nodeName(name ? name : "") {}

OP_Node::~OP_Node() = default;

const char* OP_Node::describeInput(unsigned) const {
    return "Input";
}

const char* OP_Node::outputLabel(unsigned) const {
    return "Output";
}

void OP_Node::forceRecook(bool) {
    dirty = true;
}

int OP_Node::pressButton(const char* token) {
    const PRM_Parm* parm = getParm(token);
    if (!parm || parm->getTemplate().kind() != PRM_Kind::Button)
        return -1;
    const PRM_Template& tmpl = parm->getTemplate();
    PRM_Callback callback = tmpl.getCallback();
    if (!callback)
        return -1;
    // Callbacks receive the most-derived object, which is what a plug-in casts back to.
    const int result = callback(dynamic_cast<void*>(this), 0, 0.0f, &tmpl);
    refreshParmEnables();
    return result;
}

std::vector<std::string> OP_Node::parmMenu(const char* token, int maxItems) {
    std::vector<std::string> items;
    PRM_Parm* parm = getParm(token);
    if (!parm || maxItems < 1)
        return items;
    const PRM_ChoiceList* menu = parm->getTemplate().getChoiceListPtr();
    if (!menu || !menu->getCallback())
        return items;
    // One record more than the items, so that a full menu is still ended.
    std::vector<PRM_Name> records(static_cast<size_t>(maxItems) + 1);
    menu->getCallback()(dynamic_cast<void*>(this), records.data(), maxItems + 1, nullptr, parm);
    for (const PRM_Name& record : records) {
        if (!record.getToken())
            break;
        items.emplace_back(record.getToken());
    }
    return items;
}

OP_Operator::OP_Operator(const char* tokenText, const char* labelText, OP_Constructor constructor,
                         PRM_Template* parmTemplates, unsigned minimum, unsigned maximum, void*,
                         unsigned, const char**)
    : token(tokenText ? tokenText : ""),
      label(labelText ? labelText : ""),
      construct(constructor),
      templates(parmTemplates),
      inputsMin(minimum),
      inputsMax(maximum) {}

OP_Node* OP_Operator::constructNode(OP_Network* parent, const char* nodeName) {
    return construct ? construct(parent, nodeName, this) : nullptr;
}

namespace {

// Why the host cannot use these templates, or empty when it can.
std::string checkTemplates(const PRM_Template* t, int depth) {
    for (; t && !t->isListEnd(); ++t) {
        const char* token = t->getToken() ? t->getToken() : "(no token)";
        if (t->isMulti()) {
            if (t->typeCode() != PRM_MULTITYPE_LIST) {
                return "parameter '" + std::string(token) + "' has unknown list type code " +
                       std::to_string(t->typeCode());
            }
            if (depth > 0)
                return "parameter '" + std::string(token) + "' nests lists";
            const std::string inner = checkTemplates(t->getMultiParmTemplate(), depth + 1);
            if (!inner.empty())
                return inner;
            continue;
        }
        const PRM_Kind kind = t->kind();
        if (kind == PRM_Kind::Invalid || kind == PRM_Kind::ListEnd) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%x", t->typeCode());
            return "parameter '" + std::string(token) + "' has unknown type code " + code;
        }
        if (!t->getToken())
            return "a parameter of type code has no token";
        if (t->getVectorSize() < 1 || t->getVectorSize() > PRM_DEFAULT_TABLE_SIZE) {
            return "parameter '" + std::string(token) + "' has vector size " +
                   std::to_string(t->getVectorSize());
        }
    }
    return "";
}

}  // namespace

OP_OperatorTable::OP_OperatorTable() = default;
OP_OperatorTable::~OP_OperatorTable() = default;

bool OP_OperatorTable::addOperator(OP_Operator* op) {
    std::unique_ptr<OP_Operator> owned(op);
    if (!op) {
        error = "no operator given";
        return false;
    }
    if (getOperator(op->getName().c_str())) {
        error = "operator '" + op->getName() + "' is already registered";
        return false;
    }
    const std::string problem = checkTemplates(op->getParmTemplates(), 0);
    if (!problem.empty()) {
        error = "operator '" + op->getName() + "' refused: " + problem;
        return false;
    }
    ops.push_back(std::move(owned));
    error.clear();
    return true;
}

OP_Operator* OP_OperatorTable::getOperator(const char* token) const {
    for (const auto& op : ops) {
        if (token && op->getName() == token)
            return op.get();
    }
    return nullptr;
}

std::vector<OP_Operator*> OP_OperatorTable::operators() const {
    std::vector<OP_Operator*> result;
    for (const auto& op : ops)
        result.push_back(op.get());
    return result;
}
