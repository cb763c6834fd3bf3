#pragma once

#ifdef HUESLICE_PLUGIN_CODE
#error "a driving-side header of the stand-in host is not part of the plug-in interface"
#endif

#include <memory>
#include <string>
#include <vector>

#include "HOST_API.h"
#include "OP_Node.h"
#include "SOP_Node.h"

// What a host program needs around nodes: the operator table and a network that owns the nodes.
class HOST_API HOST_Session {
  public:
    HOST_Session();
    ~HOST_Session();
    HOST_Session(const HOST_Session&) = delete;
    HOST_Session& operator=(const HOST_Session&) = delete;

    OP_OperatorTable& operatorTable() { return *table; }
    // A new geometry node of a registered operator. Null, with the reason in lastError(), when
    // the token is unknown or the operator makes no geometry node.
    SOP_Node* createNode(const char* token, const char* name = nullptr);
    // Deletes a node this session made; anything else is ignored.
    void destroyNode(OP_Node* node);
    const std::string& lastError() const { return error; }

  private:
    std::unique_ptr<OP_OperatorTable> table;
    std::unique_ptr<OP_Network> root;
    std::vector<std::unique_ptr<OP_Node>> nodes;
    std::string error;
    int serial = 0;
};
