#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "OP_Node.h"
#include "OP_Parameters.h"

namespace {

// Host rule for integer reads of a numeric value: round to nearest, saturate at the int range,
// and read NaN as 0.
int toInt(fpreal value) {
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<fpreal>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<fpreal>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(std::lround(value));
}

// Splits "group12" into the pattern's prefix match and the number; false when `token` does not
// fit `pattern` (which holds one "%d") or the number is not a plain positive decimal.
bool matchInstanceToken(const char* pattern, const char* token, int& instance) {
    const char* at = std::strstr(pattern, "%d");
    if (!at)
        return false;
    const size_t headLen = static_cast<size_t>(at - pattern);
    const char* tail = at + 2;
    const size_t tokenLen = std::strlen(token);
    const size_t tailLen = std::strlen(tail);
    if (tokenLen <= headLen + tailLen)
        return false;
    if (std::strncmp(token, pattern, headLen) != 0)
        return false;
    if (std::strcmp(token + tokenLen - tailLen, tail) != 0)
        return false;
    const char* digits = token + headLen;
    const size_t count = tokenLen - headLen - tailLen;
    if (digits[0] == '0' || count > 9)
        return false;
    long value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return false;
        value = value * 10 + (digits[i] - '0');
    }
    instance = static_cast<int>(value);
    return true;
}

// A list's count is its count parameter read as an integer at time 0; never negative.
int countValue(const PRM_Parm& countParm) {
    return std::max(0, toInt(countParm.evalFloat(0, 0.0)));
}

}  // namespace

OP_Parameters::OP_Parameters(OP_Operator* opType) : opDef(opType) {
    const PRM_Template* t = opDef ? opDef->getParmTemplates() : nullptr;
    for (; t && !t->isListEnd(); ++t) {
        top.push_back(t);
        topParms.push_back(std::make_unique<PRM_Parm>(this, t, 0));
        if (!t->isMulti()) {
            listOfTop.push_back(-1);
            continue;
        }
        ListState list;
        list.countTemplate = t;
        for (const PRM_Template* e = t->getMultiParmTemplate(); e && !e->isListEnd(); ++e) {
            list.entryTemplates.push_back(e);
        }
        list.lastPattern.assign(list.entryTemplates.size(), nullptr);
        list.count = countValue(*topParms.back());
        listOfTop.push_back(static_cast<int>(lists.size()));
        lists.push_back(std::move(list));
    }
}

OP_Parameters::~OP_Parameters() = default;

int OP_Parameters::updateParmEnables() {
    return 0;
}

bool OP_Parameters::resolveByText(const char* pattern, const int* inst, Address& where) const {
    if (!pattern)
        return false;
    if (!inst) {
        for (size_t i = 0; i < top.size(); ++i) {
            const char* token = top[i]->getToken();
            if (token && std::strcmp(token, pattern) == 0) {
                where = Address{-1, static_cast<int>(i), 0};
                return true;
            }
        }
        return false;
    }
    const auto found = [&](size_t l, size_t s) {
        if (*inst < 1 || *inst > lists[l].count)
            return false;
        where = Address{static_cast<int>(l), static_cast<int>(s), *inst};
        return true;
    };
    for (size_t l = 0; l < lists.size(); ++l) {
        const ListState& list = lists[l];
        for (size_t s = 0; s < list.lastPattern.size(); ++s) {
            if (list.lastPattern[s] != pattern)
                continue;
            // The same pointer may hold other text by now, unless it is the template's own.
            const char* token = list.entryTemplates[s]->getToken();
            if (token && (token == pattern || std::strcmp(token, pattern) == 0))
                return found(l, s);
        }
    }
    for (size_t l = 0; l < lists.size(); ++l) {
        const ListState& list = lists[l];
        for (size_t s = 0; s < list.entryTemplates.size(); ++s) {
            const char* token = list.entryTemplates[s]->getToken();
            if (token && std::strcmp(token, pattern) == 0) {
                list.lastPattern[s] = pattern;
                if (token == pattern)
                    remember(KnownPattern{pattern, list.entryTemplates[s], &list,
                                          static_cast<int>(l), static_cast<int>(s)});
                return found(l, s);
            }
        }
    }
    return false;
}

void OP_Parameters::remember(const KnownPattern& known) const {
    for (KnownPattern& k : knownPatterns) {
        if (k.pattern == known.pattern) {
            k = known;
            return;
        }
    }
    knownPatterns.push_back(known);
}

bool OP_Parameters::resolveToken(const char* token, Address& where) const {
    if (!token)
        return false;
    if (resolvePattern(token, nullptr, where))
        return true;
    for (size_t l = 0; l < lists.size(); ++l) {
        const auto& templates = lists[l].entryTemplates;
        for (size_t s = 0; s < templates.size(); ++s) {
            int instance = 0;
            const char* pattern = templates[s]->getToken();
            if (pattern && matchInstanceToken(pattern, token, instance)) {
                return resolvePattern(pattern, &instance, where);
            }
        }
    }
    return false;
}

int OP_Parameters::listCount(int list) const {
    return lists[static_cast<size_t>(list)].count;
}

const PRM_Parm* OP_Parameters::lookup(const Address& where) const {
    if (where.list < 0)
        return topParms[static_cast<size_t>(where.slot)].get();
    const ListState& list = lists[static_cast<size_t>(where.list)];
    const auto index = static_cast<size_t>(where.instance - 1);
    if (index >= list.instances.size() || list.instances[index].parms.empty())
        return nullptr;
    return &list.instances[index].parms[static_cast<size_t>(where.slot)];
}

PRM_Parm* OP_Parameters::materialise(const Address& where) {
    if (where.list < 0)
        return topParms[static_cast<size_t>(where.slot)].get();
    ListState& list = lists[static_cast<size_t>(where.list)];
    const auto index = static_cast<size_t>(where.instance - 1);
    if (index >= list.instances.size())
        list.instances.resize(index + 1);
    Instance& instance = list.instances[index];
    if (instance.parms.empty()) {
        instance.parms.reserve(list.entryTemplates.size());
        for (const PRM_Template* t : list.entryTemplates) {
            instance.parms.emplace_back(this, t, where.instance);
        }
    }
    return &instance.parms[static_cast<size_t>(where.slot)];
}

void OP_Parameters::valueChanged(const PRM_Parm& parm) {
    // Counts are top-level parameters; list instances (numbered from 1) never are.
    for (size_t l = 0; parm.getInstance() == 0 && l < lists.size(); ++l) {
        ListState& list = lists[l];
        if (&parm.getTemplate() != list.countTemplate)
            continue;
        list.count = countValue(parm);
        // Instances past the new count are removed, so growing again gives fresh defaults.
        if (list.instances.size() > static_cast<size_t>(list.count)) {
            list.instances.resize(static_cast<size_t>(list.count));
        }
    }
    enablesStale = true;
    parmChanged();
}

int OP_Parameters::evalInt(const char* token, int comp, fpreal time) const {
    ++calls.evalInt;
    return toInt(evalFloat(token, comp, time));
}

fpreal OP_Parameters::evalFloat(const char* token, int comp, fpreal time) const {
    Address where;
    if (!resolvePattern(token, nullptr, where))
        return 0.0;
    return lookup(where)->evalFloat(comp, time);
}

void OP_Parameters::evalString(UT_String& out, const char* token, int, fpreal) const {
    Address where;
    const PRM_Parm* parm = resolvePattern(token, nullptr, where) ? lookup(where) : nullptr;
    out = parm && parm->getTemplate().kind() == PRM_Kind::String ? parm->evalString().c_str()
                                                                 : nullptr;
}

int OP_Parameters::evalIntInst(const char* pattern, const int* inst, int comp, fpreal time,
                               int) const {
    ++calls.evalIntInst;
    return toInt(instanceFloat(pattern, inst, comp, time));
}

fpreal OP_Parameters::evalFloatInst(const char* pattern, const int* inst, int comp, fpreal time,
                                    int) const {
    ++calls.evalFloatInst;
    return instanceFloat(pattern, inst, comp, time);
}

fpreal OP_Parameters::instanceFloat(const char* pattern, const int* inst, int comp,
                                    fpreal time) const {
    Address where;
    if (!inst || !resolvePattern(pattern, inst, where))
        return 0.0;
    if (const PRM_Parm* parm = lookup(where))
        return parm->evalFloat(comp, time);
    // An untouched instance holds its template's defaults.
    const PRM_Template* t =
        lists[static_cast<size_t>(where.list)].entryTemplates[static_cast<size_t>(where.slot)];
    const PRM_Default* d = t->getDefaults();
    if (!d || comp < 0 || comp >= std::max(1, t->getVectorSize()))
        return 0.0;
    if (t->kind() == PRM_Kind::String || t->kind() == PRM_Kind::Button)
        return 0.0;
    return d[std::min(comp, PRM_DEFAULT_TABLE_SIZE - 1)].getFloat();
}

void OP_Parameters::evalStringInst(const char* pattern, const int* inst, UT_String& out, int,
                                   fpreal, int) const {
    ++calls.evalStringInst;
    Address where;
    if (!inst || !resolvePattern(pattern, inst, where)) {
        out = nullptr;
        return;
    }
    const PRM_Template* t =
        lists[static_cast<size_t>(where.list)].entryTemplates[static_cast<size_t>(where.slot)];
    if (t->kind() != PRM_Kind::String) {
        out = nullptr;
        return;
    }
    if (const PRM_Parm* parm = lookup(where)) {
        out = parm->evalString().c_str();
        return;
    }
    const PRM_Default* d = t->getDefaults();
    out = d && d->getString() ? d->getString() : "";
}

void OP_Parameters::setInt(const char* token, int comp, fpreal time, int value) {
    setFloat(token, comp, time, static_cast<fpreal>(value));
}

void OP_Parameters::setFloat(const char* token, int comp, fpreal time, fpreal value) {
    Address where;
    if (resolvePattern(token, nullptr, where))
        materialise(where)->setFloat(comp, time, value);
}

void OP_Parameters::setIntInst(int value, const char* pattern, const int* inst, int comp,
                               fpreal time, int nestLevel) {
    setFloatInst(static_cast<fpreal>(value), pattern, inst, comp, time, nestLevel);
}

void OP_Parameters::setFloatInst(fpreal value, const char* pattern, const int* inst, int comp,
                                 fpreal time, int) {
    Address where;
    if (inst && resolvePattern(pattern, inst, where)) {
        materialise(where)->setFloat(comp, time, value);
    }
}

void OP_Parameters::setStringInst(const UT_String& value, const char* pattern, const int* inst, int,
                                  fpreal, int) {
    Address where;
    if (!inst || !resolvePattern(pattern, inst, where))
        return;
    PRM_Parm* parm = materialise(where);
    if (parm->getTemplate().kind() == PRM_Kind::String)
        parm->setString(value.buffer());
}

int OP_Parameters::enableParmInst(const char* pattern, const int* inst, int state, int, int) {
    ++calls.enableParmInst;
    Address where;
    if (!inst || !resolvePattern(pattern, inst, where))
        return 0;
    materialise(where)->enabled = state != 0;
    return 1;
}

PRM_Parm* OP_Parameters::getParm(const char* token) {
    Address where;
    return resolveToken(token, where) ? materialise(where) : nullptr;
}

const PRM_Parm* OP_Parameters::findParm(const char* token) const {
    Address where;
    return resolveToken(token, where) ? lookup(where) : nullptr;
}

std::vector<PRM_Parm*> OP_Parameters::allParms() {
    std::vector<PRM_Parm*> result;
    for (size_t i = 0; i < top.size(); ++i) {
        result.push_back(topParms[i].get());
        const int l = listOfTop[i];
        if (l < 0)
            continue;
        const int count = listCount(l);
        const size_t slots = lists[static_cast<size_t>(l)].entryTemplates.size();
        for (int instance = 1; instance <= count; ++instance) {
            for (size_t s = 0; s < slots; ++s) {
                result.push_back(materialise(Address{l, static_cast<int>(s), instance}));
            }
        }
    }
    return result;
}

bool OP_Parameters::isParmEnabled(const char* token) {
    refreshParmEnables();
    const PRM_Parm* parm = findParm(token);
    return !parm || parm->isEnabled();
}

bool OP_Parameters::refreshParmEnables() {
    if (!enablesStale)
        return false;
    updateParmEnables();
    enablesStale = false;
    return true;
}
