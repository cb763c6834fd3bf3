#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HOST_API.h"
#include "PRM.h"
#include "UT_Error.h"
#include "UT_String.h"

class OP_Operator;

class HOST_API PRM_ParmOwner {
  public:
    virtual ~PRM_ParmOwner() = default;
};

// A node's parameters, built from its operator's templates. Top-level parameters are addressed
// by token ("numobj"); list instances by pattern and 1-based index ("group%d", 3) or by their
// full token ("group3"). Reads of anything that does not exist give 0 or absent text.
class HOST_API OP_Parameters : public PRM_ParmOwner {
  public:
    explicit OP_Parameters(OP_Operator* op);
    ~OP_Parameters() override;
    OP_Parameters(const OP_Parameters&) = delete;
    OP_Parameters& operator=(const OP_Parameters&) = delete;

    // Brings the enable flags of the parameters up to date. The host calls it after parameter
    // changes; the result is a count for the host.
    virtual int updateParmEnables();
    virtual void referenceAllParameters() {}

    int evalInt(const char* token, int comp, fpreal time) const;
    fpreal evalFloat(const char* token, int comp, fpreal time) const;
    void evalString(UT_String& out, const char* token, int comp, fpreal time) const;
    int evalIntInst(const char* pattern, const int* inst, int comp, fpreal time,
                    int nestLevel = 1) const;
    fpreal evalFloatInst(const char* pattern, const int* inst, int comp, fpreal time,
                         int nestLevel = 1) const;
    void evalStringInst(const char* pattern, const int* inst, UT_String& out, int comp, fpreal time,
                        int nestLevel = 1) const;

    // Setting a list's count adds instances with their template defaults or removes the ones
    // past the new count. Writes to parameters that do not exist are ignored.
    void setInt(const char* token, int comp, fpreal time, int value);
    void setFloat(const char* token, int comp, fpreal time, fpreal value);
    void setIntInst(int value, const char* pattern, const int* inst, int comp, fpreal time,
                    int nestLevel = 1);
    void setFloatInst(fpreal value, const char* pattern, const int* inst, int comp, fpreal time,
                      int nestLevel = 1);
    void setStringInst(const UT_String& value, const char* pattern, const int* inst, int comp,
                       fpreal time, int nestLevel = 1);

    // Greys a parameter out (state 0) or in. Returns 1 when the parameter exists, else 0.
    int enableParmInst(const char* pattern, const int* inst, int state, int nestLevel = 1,
                       int comp = -1);

    UT_ErrorSeverity error() const { return errorLevel; }

    // Host side: dialogs, scenes and host programs.

    // The parameter with this full token ("numobj", "col2"), or null. List instances are made
    // on demand.
    PRM_Parm* getParm(const char* token);
    const PRM_Parm* findParm(const char* token) const;
    // Every parameter that exists, in dialog order: top level, with each list's instances after
    // its count. A list instance of untouched defaults is made on demand.
    std::vector<PRM_Parm*> allParms();
    const std::vector<const PRM_Template*>& topTemplates() const { return top; }
    // The enable flag after bringing the flags up to date; true for unknown tokens.
    bool isParmEnabled(const char* token);
    // Calls updateParmEnables when a parameter changed since it last ran; returns whether it ran.
    bool refreshParmEnables();
    OP_Operator* getOperator() const { return opDef; }

  protected:
    void addError(UT_ErrorSeverity s) {
        if (s > errorLevel)
            errorLevel = s;
    }
    void clearErrors() { errorLevel = UT_ERROR_NONE; }
    // Called after every change of a parameter value.
    virtual void parmChanged() {}

  private:
    friend class PRM_Parm;
    friend class HOST_Internals;
    // Calls of the plug-in-facing reads and of enableParmInst, for tests that check which host
    // calls an operation makes.
    struct CallCounts {
        long long evalInt = 0;
        long long evalIntInst = 0;
        long long evalFloatInst = 0;
        long long evalStringInst = 0;
        long long enableParmInst = 0;
    };
    struct Instance {
        // One allocation for the whole instance. It is sized once and never grows, so the
        // parameters keep their addresses when the instance itself moves.
        std::vector<PRM_Parm> parms;
    };
    struct ListState {
        const PRM_Template* countTemplate;
        std::vector<const PRM_Template*> entryTemplates;
        // The last pattern pointer that named each entry template. Callers pass the same
        // pattern constants over and over, so a pointer match (still checked by text) saves
        // comparing against every template of every list.
        mutable std::vector<const char*> lastPattern;
        // The count parameter's value at time 0, brought up to date whenever it changes: every
        // instance access checks against it.
        int count = 0;
        // Instance i at i - 1, up to the highest touched one; an untouched instance holds no
        // parameters. A flat array keeps reads of long lists to one indexed load.
        std::vector<Instance> instances;
    };
    struct Address {
        int list = -1;  // index into lists, or -1 for top level
        int slot = -1;  // template index within the list, or top-level parm index
        int instance = 0;
    };

    // Entry templates whose own token pointer has been passed as a pattern. Plug-ins that loop
    // over long lists pass exactly those, and recognising one is a pointer comparison.
    struct KnownPattern {
        const char* pattern;
        const PRM_Template* tmpl;
        const ListState* list;
        int listIndex;
        int slot;
    };

    bool resolvePattern(const char* pattern, const int* inst, Address& where) const {
        if (pattern && inst) {
            for (const KnownPattern& k : knownPatterns) {
                if (k.pattern != pattern)
                    continue;
                // A token changed since would no longer be this pointer.
                if (k.tmpl->getToken() != pattern)
                    break;
                if (*inst < 1 || *inst > k.list->count)
                    return false;
                where = Address{k.listIndex, k.slot, *inst};
                return true;
            }
        }
        return resolveByText(pattern, inst, where);
    }
    bool resolveByText(const char* pattern, const int* inst, Address& where) const;
    fpreal instanceFloat(const char* pattern, const int* inst, int comp, fpreal time) const;
    void remember(const KnownPattern& known) const;
    bool resolveToken(const char* token, Address& where) const;
    const PRM_Parm* lookup(const Address& where) const;
    PRM_Parm* materialise(const Address& where);
    int listCount(int list) const;
    void valueChanged(const PRM_Parm& parm);

    OP_Operator* opDef;
    std::vector<const PRM_Template*> top;
    std::vector<std::unique_ptr<PRM_Parm>> topParms;
    std::vector<ListState> lists;
    std::vector<int> listOfTop;  // top-level parm index -> list index, or -1
    mutable std::vector<KnownPattern> knownPatterns;
    UT_ErrorSeverity errorLevel = UT_ERROR_NONE;
    bool enablesStale = true;
    mutable CallCounts calls;
};
