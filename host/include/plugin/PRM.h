#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "HOST_API.h"
#include "UT_String.h"

class PRM_Template;
class PRM_Parm;
class PRM_SpareData;
class PRM_Range;
class OP_Parameters;

// A token and a label. Either may be null, which is how lists and menus are ended.
class HOST_API PRM_Name {
  public:
    PRM_Name(const char* token = nullptr, const char* label = nullptr, int unused = 0);
    const char* getToken() const { return token.buffer(); }
    const char* getLabel() const { return label.buffer(); }
    void setToken(const char* text) { token = text; }
    void setLabel(const char* text) { label = text; }

  private:
    UT_String token;
    UT_String label;
};

class HOST_API PRM_Default {
  public:
    PRM_Default(float value = 0.0f, const char* text = nullptr) : number(value), string(text) {}
    float getFloat() const { return number; }
    const char* getString() const { return string; }

  private:
    float number;
    const char* string;
};

// Default tables, one record per component.
constexpr int PRM_DEFAULT_TABLE_SIZE = 4;
HOST_API extern PRM_Default PRMzeroDefaults[PRM_DEFAULT_TABLE_SIZE];
HOST_API extern PRM_Default PRMoneDefaults[PRM_DEFAULT_TABLE_SIZE];

enum PRM_ChoiceListType { PRM_CHOICELIST_REPLACE = 1 };

typedef void (*PRM_ChoiceGenFunc)(void* node, PRM_Name* menu, int size, const PRM_SpareData* spare,
                                  PRM_Parm* parm);

class HOST_API PRM_ChoiceList {
  public:
    PRM_ChoiceList(PRM_ChoiceListType type, PRM_ChoiceGenFunc callback)
        : listType(type), generator(callback) {}
    PRM_ChoiceGenFunc getCallback() const { return generator; }
    PRM_ChoiceListType getType() const { return listType; }

  private:
    PRM_ChoiceListType listType;
    PRM_ChoiceGenFunc generator;
};

// Parameter type codes. The host interprets the ones named here and refuses others.
class PRM_Type {
  public:
    constexpr explicit PRM_Type(unsigned typeCode = 0) : value(typeCode) {}
    constexpr unsigned code() const { return value; }

  private:
    unsigned value;
};

constexpr unsigned PRM_CODE_LIST_END = 0x0;
constexpr unsigned PRM_CODE_BUTTON = 0x201;
constexpr unsigned PRM_CODE_TOGGLE = 0x101;
constexpr unsigned PRM_CODE_TOGGLE_JOINED = 0x40000101;
constexpr unsigned PRM_CODE_RGB = 0xc0000232;
constexpr unsigned PRM_CODE_STRING_MENU = 0x80000003;

// The kind of value a type code stands for.
enum class PRM_Kind { Invalid, ListEnd, Button, Toggle, Colour, String, MultiList };
// What the host makes of a type code; Invalid for an unknown one.
HOST_API PRM_Kind kindOfTypeCode(unsigned code);

enum PRM_MultiType { PRM_MULTITYPE_LIST = 0 };

typedef int (*PRM_Callback)(void* node, int index, float time, const PRM_Template* tmpl);

class HOST_API PRM_Template {
  public:
    // An ordinary parameter. Type code 0 with no name ends a list.
    PRM_Template(PRM_Type type = PRM_Type(PRM_CODE_LIST_END), int vectorSize = 1,
                 PRM_Name* name = nullptr, PRM_Default* defaults = nullptr,
                 PRM_ChoiceList* menu = nullptr, PRM_Range* range = nullptr,
                 PRM_Callback callback = nullptr, PRM_SpareData* spare = nullptr, int flag = 1,
                 const char* help = nullptr);
    // A list whose count is this parameter and whose every instance holds `subTemplates`.
    PRM_Template(PRM_MultiType multiType, PRM_Template* subTemplates, float spacing, PRM_Name* name,
                 PRM_Default* defaults, PRM_Range* range, int flag);

    bool isMulti() const { return multi; }
    bool isListEnd() const { return !multi && type.code() == PRM_CODE_LIST_END && !name; }
    PRM_Kind kind() const { return multi ? PRM_Kind::MultiList : kindOfTypeCode(type.code()); }
    unsigned typeCode() const { return multi ? static_cast<unsigned>(multiType) : type.code(); }
    int getVectorSize() const { return vectorSize; }
    const PRM_Name* getNamePtr() const { return name; }
    const char* getToken() const { return name ? name->getToken() : nullptr; }
    const char* getLabel() const { return name ? name->getLabel() : nullptr; }
    const PRM_Default* getDefaults() const { return defaults; }
    PRM_ChoiceList* getChoiceListPtr() const { return menu; }
    PRM_Callback getCallback() const { return callback; }
    const PRM_Template* getMultiParmTemplate() const { return subTemplates; }

  private:
    PRM_Type type;
    PRM_MultiType multiType = PRM_MULTITYPE_LIST;
    bool multi = false;
    int vectorSize;
    PRM_Name* name;
    PRM_Default* defaults;
    PRM_ChoiceList* menu;
    PRM_Range* range;
    PRM_Callback callback;
    PRM_SpareData* spare;
    PRM_Template* subTemplates = nullptr;
};

struct PRM_Key {
    fpreal time;
    fpreal value;
};

// One parameter of one node (a list instance or a top-level parameter): its values and its
// enable flag. Numeric components are constant or keyframed: linear between keys, held outside
// them.
class HOST_API PRM_Parm {
  public:
    PRM_Parm(OP_Parameters* owner, const PRM_Template* tmpl, int instance);

    const PRM_Template& getTemplate() const { return *tmpl; }
    // The token with the instance number in place of "%d", e.g. "group3".
    const std::string& getToken() const;
    int getInstance() const { return instance; }
    int getVectorSize() const { return size; }
    bool isEnabled() const { return enabled; }

    fpreal evalFloat(int comp, fpreal time) const;
    const std::string& evalString() const { return text; }
    bool isAnimated(int comp) const;
    const std::vector<PRM_Key>& keys(int comp) const;

    // Stores a value; on a keyframed component it sets the key at `time`.
    void setFloat(int comp, fpreal time, fpreal value);
    void setString(const char* value);
    // Replaces the component's keys; an empty list makes it constant at its current value at 0.
    // Keys are kept sorted by time; a repeated time keeps the last value given.
    void setKeys(int comp, std::vector<PRM_Key> keys);

  private:
    friend class OP_Parameters;
    // Long lists hold hundreds of thousands of parameters, nearly all constant with at most
    // three components: those live inside the parameter, so making one allocates nothing, and
    // the parameter stays small, since loops over a list stream through all of them.
    static constexpr int kInlineComponents = 3;
    // What few parameters need: components past the inline ones, and keyframes.
    struct Extra {
        std::vector<fpreal> wideConstants;       // component kInlineComponents + i at i
        std::vector<std::vector<PRM_Key>> keys;  // per component; empty while constant
    };

    fpreal& constant(int comp) {
        return comp < kInlineComponents
                   ? constants[comp]
                   : extra->wideConstants[static_cast<std::size_t>(comp - kInlineComponents)];
    }
    fpreal constant(int comp) const { return const_cast<PRM_Parm*>(this)->constant(comp); }
    // The component's keys, or null while it is constant. `comp` must be in range.
    std::vector<PRM_Key>* keyList(int comp) {
        if (!extra || extra->keys.empty())
            return nullptr;
        std::vector<PRM_Key>& k = extra->keys[static_cast<std::size_t>(comp)];
        return k.empty() ? nullptr : &k;
    }
    const std::vector<PRM_Key>* keyList(int comp) const {
        return const_cast<PRM_Parm*>(this)->keyList(comp);
    }
    Extra& ensureExtra();

    OP_Parameters* owner;
    const PRM_Template* tmpl;
    int instance;
    int size = 0;
    fpreal constants[kInlineComponents] = {0.0, 0.0, 0.0};
    std::unique_ptr<Extra> extra;
    // Made on the first getToken(): few parameters are ever asked for theirs.
    mutable std::unique_ptr<std::string> token;
    std::string text;
    bool enabled = true;
};
