#include <algorithm>
#include <cmath>
#include <string>

#include "OP_Parameters.h"
#include "PRM.h"

PRM_Default PRMzeroDefaults[PRM_DEFAULT_TABLE_SIZE] = {PRM_Default(0.0f), PRM_Default(0.0f),
                                                       PRM_Default(0.0f), PRM_Default(0.0f)};
PRM_Default PRMoneDefaults[PRM_DEFAULT_TABLE_SIZE] = {PRM_Default(1.0f), PRM_Default(1.0f),
                                                      PRM_Default(1.0f), PRM_Default(1.0f)};

PRM_Name::PRM_Name(const char* tokenText, const char* labelText, int)
    : token(tokenText), label(labelText) {}

PRM_Kind kindOfTypeCode(unsigned code) {
    switch (code) {
        case PRM_CODE_LIST_END:
            return PRM_Kind::ListEnd;
        case PRM_CODE_BUTTON:
            return PRM_Kind::Button;
        case PRM_CODE_TOGGLE:
        case PRM_CODE_TOGGLE_JOINED:
            return PRM_Kind::Toggle;
        case PRM_CODE_RGB:
            return PRM_Kind::Colour;
        case PRM_CODE_STRING_MENU:
            return PRM_Kind::String;
        default:
            return PRM_Kind::Invalid;
    }
}

PRM_Template::PRM_Template(PRM_Type typeCode, int size, PRM_Name* nameRecord,
                           PRM_Default* defaultRecords, PRM_ChoiceList* menuList,
                           PRM_Range* rangeRecord, PRM_Callback callbackFunc,
                           PRM_SpareData* spareData, int, const char*)
    : type(typeCode),
      vectorSize(size),
      name(nameRecord),
      defaults(defaultRecords),
      menu(menuList),
      range(rangeRecord),
      callback(callbackFunc),
      spare(spareData) {}

PRM_Template::PRM_Template(PRM_MultiType multiTypeCode, PRM_Template* sub, float,
                           PRM_Name* nameRecord, PRM_Default* defaultRecords,
                           PRM_Range* rangeRecord, int)
    : multiType(multiTypeCode),
      multi(true),
      vectorSize(1),
      name(nameRecord),
      defaults(defaultRecords),
      menu(nullptr),
      range(rangeRecord),
      callback(nullptr),
      spare(nullptr),
      subTemplates(sub) {}

namespace {

std::string instanceToken(const char* pattern, int instance) {
    std::string token = pattern ? pattern : "";
    const auto at = token.find("%d");
    if (at != std::string::npos)
        token.replace(at, 2, std::to_string(instance));
    return token;
}

}  // namespace

PRM_Parm::PRM_Parm(OP_Parameters* ownerParms, const PRM_Template* parmTemplate, int index)
    : owner(ownerParms), tmpl(parmTemplate), instance(index) {
    const PRM_Kind kind = tmpl->kind();
    const PRM_Default* d = tmpl->getDefaults();
    if (kind == PRM_Kind::String) {
        text = d && d->getString() ? d->getString() : "";
        return;
    }
    size = kind == PRM_Kind::Button ? 0 : std::max(1, tmpl->getVectorSize());
    if (size > kInlineComponents) {
        ensureExtra().wideConstants.resize(static_cast<size_t>(size - kInlineComponents), 0.0);
    }
    for (int c = 0; c < size && d; ++c) {
        constant(c) = d[std::min(c, PRM_DEFAULT_TABLE_SIZE - 1)].getFloat();
    }
}

const std::string& PRM_Parm::getToken() const {
    if (!token)
        token = std::make_unique<std::string>(instanceToken(tmpl->getToken(), instance));
    return *token;
}

PRM_Parm::Extra& PRM_Parm::ensureExtra() {
    if (!extra)
        extra = std::make_unique<Extra>();
    return *extra;
}

fpreal PRM_Parm::evalFloat(int comp, fpreal time) const {
    if (comp < 0 || comp >= getVectorSize())
        return 0.0;
    const std::vector<PRM_Key>* keyed = keyList(comp);
    if (!keyed)
        return constant(comp);
    const std::vector<PRM_Key>& keys = *keyed;
    if (time <= keys.front().time)
        return keys.front().value;
    if (time >= keys.back().time)
        return keys.back().value;
    const auto next = std::upper_bound(keys.begin(), keys.end(), time,
                                       [](fpreal t, const PRM_Key& k) { return t < k.time; });
    const PRM_Key& a = *(next - 1);
    const PRM_Key& b = *next;
    // At a key's own time its value comes back as set, infinite or huge ones included.
    if (time == a.time)
        return a.value;
    const fpreal u = (time - a.time) / (b.time - a.time);
    // A difference that overflows (an infinite key, or huge keys of opposite sign) would make
    // NaN of a well-defined blend.
    if (!std::isfinite(b.value - a.value))
        return a.value * (1.0 - u) + b.value * u;
    return a.value + (b.value - a.value) * u;
}

bool PRM_Parm::isAnimated(int comp) const {
    return comp >= 0 && comp < getVectorSize() && keyList(comp) != nullptr;
}

const std::vector<PRM_Key>& PRM_Parm::keys(int comp) const {
    static const std::vector<PRM_Key> none;
    return isAnimated(comp) ? *keyList(comp) : none;
}

void PRM_Parm::setFloat(int comp, fpreal time, fpreal value) {
    if (comp < 0 || comp >= getVectorSize() || !std::isfinite(time))
        return;
    if (std::vector<PRM_Key>* keyed = keyList(comp)) {
        std::vector<PRM_Key>& keys = *keyed;
        auto at = std::lower_bound(keys.begin(), keys.end(), time,
                                   [](const PRM_Key& k, fpreal t) { return k.time < t; });
        if (at != keys.end() && at->time == time) {
            at->value = value;
        } else {
            keys.insert(at, PRM_Key{time, value});
        }
    } else {
        constant(comp) = value;
    }
    owner->valueChanged(*this);
}

void PRM_Parm::setString(const char* value) {
    text = value ? value : "";
    owner->valueChanged(*this);
}

void PRM_Parm::setKeys(int comp, std::vector<PRM_Key> newKeys) {
    if (comp < 0 || comp >= getVectorSize())
        return;
    const fpreal current = evalFloat(comp, 0.0);
    // A key without a finite time has no place on the time line.
    newKeys.erase(std::remove_if(newKeys.begin(), newKeys.end(),
                                 [](const PRM_Key& k) { return !std::isfinite(k.time); }),
                  newKeys.end());
    std::stable_sort(newKeys.begin(), newKeys.end(),
                     [](const PRM_Key& a, const PRM_Key& b) { return a.time < b.time; });
    Extra& more = ensureExtra();
    if (more.keys.empty())
        more.keys.resize(static_cast<size_t>(size));
    std::vector<PRM_Key>& keys = more.keys[static_cast<size_t>(comp)];
    keys.clear();
    for (const PRM_Key& k : newKeys) {
        if (!keys.empty() && keys.back().time == k.time) {
            keys.back().value = k.value;
        } else {
            keys.push_back(k);
        }
    }
    if (keys.empty())
        constant(comp) = current;
    owner->valueChanged(*this);
}
