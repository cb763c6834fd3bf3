#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HOST_API.h"
#include "OP_Parameters.h"
#include "UT_Error.h"

class OP_Network;
class OP_Node;
class OP_Operator;
class SOP_Node;

class HOST_API OP_Context {
  public:
    explicit OP_Context(fpreal cookTime = 0.0) : time(cookTime) {}
    fpreal getTime() const { return time; }

  private:
    fpreal time;
};

class HOST_API OP_NetworkBoxItem {
  public:
    virtual ~OP_NetworkBoxItem() = default;
};

class HOST_API OP_Node : public OP_Parameters, public OP_NetworkBoxItem {
  public:
    OP_Node(OP_Network* parent, const char* name, OP_Operator* op);
    ~OP_Node() override;

    virtual const char* describeInput(unsigned index) const;
    virtual const char* outputLabel(unsigned index) const;
    // This node as a geometry operator, or null when it is not one.
    virtual SOP_Node* castToSOPNode() const { return nullptr; }

    // Makes the host cook the node again before its output is next needed.
    void forceRecook(bool evenIfClean = true);
    bool needsCook() const { return dirty; }
    const std::string& getName() const { return nodeName; }
    OP_Network* getParent() const { return parentNetwork; }

    // Host side: presses a button as the dialog would, by calling its template's callback with
    // this node. Returns the callback's result, or -1 when `token` is no button with a callback.
    int pressButton(const char* token);
    // The menu of a parameter (full token, e.g. "group2") as the host builds it: up to
    // `maxItems` tokens, ended by the first null token. Empty when it has no menu.
    std::vector<std::string> parmMenu(const char* token, int maxItems = 256);

  protected:
    void parmChanged() override { dirty = true; }
    void markCooked() { dirty = false; }

  private:
    OP_Network* parentNetwork;
    std::string nodeName;
    bool dirty = true;
};

class HOST_API OP_Network : public OP_Node {
  public:
    using OP_Node::OP_Node;
};

typedef OP_Node* (*OP_Constructor)(OP_Network* parent, const char* name, OP_Operator* op);

class HOST_API OP_Operator {
  public:
    OP_Operator(const char* token, const char* label, OP_Constructor construct,
                PRM_Template* templates, unsigned minInputs, unsigned maxInputs,
                void* localVariables = nullptr, unsigned flags = 0,
                const char** inputLabels = nullptr);
    virtual ~OP_Operator() = default;

    const std::string& getName() const { return token; }
    const std::string& getLabel() const { return label; }
    unsigned minInputs() const { return inputsMin; }
    unsigned maxInputs() const { return inputsMax; }
    PRM_Template* getParmTemplates() const { return templates; }
    // Makes a node of this type through the operator's constructor; null when it gives none.
    OP_Node* constructNode(OP_Network* parent, const char* name);

  private:
    std::string token;
    std::string label;
    OP_Constructor construct;
    PRM_Template* templates;
    unsigned inputsMin;
    unsigned inputsMax;
};

// The host's table of geometry operators; owns every operator added to it.
class HOST_API OP_OperatorTable {
  public:
    OP_OperatorTable();
    ~OP_OperatorTable();
    OP_OperatorTable(const OP_OperatorTable&) = delete;
    OP_OperatorTable& operator=(const OP_OperatorTable&) = delete;

    // Takes ownership. Refuses (deleting it, leaving the table unchanged, and saying why in
    // lastError()) a null operator, a token already present, and templates the host cannot
    // interpret.
    bool addOperator(OP_Operator* op);
    OP_Operator* getOperator(const char* token) const;
    std::size_t entries() const { return ops.size(); }
    std::vector<OP_Operator*> operators() const;
    const std::string& lastError() const { return error; }

  private:
    std::vector<std::unique_ptr<OP_Operator>> ops;
    std::string error;
};
