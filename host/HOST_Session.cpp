#include <algorithm>
#include <string>

#include "HOST_Session.h"

HOST_Session::HOST_Session()
    : table(std::make_unique<OP_OperatorTable>()),
      root(std::make_unique<OP_Network>(nullptr, "obj", nullptr)) {}

HOST_Session::~HOST_Session() {
    // Nodes go before the operators whose templates they use.
    nodes.clear();
}

SOP_Node* HOST_Session::createNode(const char* token, const char* name) {
    OP_Operator* op = table->getOperator(token);
    if (!op) {
        error = std::string("no operator '") + (token ? token : "") + "' is registered";
        return nullptr;
    }
    const std::string nodeName = name ? name : op->getName() + std::to_string(++serial);
    std::unique_ptr<OP_Node> node(op->constructNode(root.get(), nodeName.c_str()));
    SOP_Node* sop = node ? node->castToSOPNode() : nullptr;
    if (!sop) {
        error = "operator '" + op->getName() + "' made no geometry node";
        return nullptr;
    }
    nodes.push_back(std::move(node));
    return sop;
}

void HOST_Session::destroyNode(OP_Node* node) {
    nodes.erase(
        std::remove_if(nodes.begin(), nodes.end(),
                       [node](const std::unique_ptr<OP_Node>& n) { return n.get() == node; }),
        nodes.end());
}
