// The node driven by a decoded script: a small detail with awkward colours, layers and groups,
// an entry list, then a sequence of cooks, Initialise and Sort presses, enable updates, keyframes
// and edits, with the node's promises checked after every step.

#include <HOST_Internals.h>
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <PRM.h>
#include <sop/colour_key.h>
#include <sop/grouping.h>

#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace hueslice::fuzz {

namespace {

constexpr const char* kTarget = "node_fuzzer";
constexpr unsigned kMaxPrimitives = 12;
constexpr unsigned kMaxSteps = 12;
// "Large" lists stay at a few thousand entries so that one input cooks in milliseconds.
constexpr int kLargeCountBase = 1000;
constexpr unsigned kLargeCountSpread = 1000;
constexpr const char* kInputGroupNames[] = {"group1", "red", kHiddenGroupName, "layer2group1",
                                            "group2"};

float specialFloat(ByteReader& in) {
    switch (in.below(20)) {
        case 0:
            return 0.0f;
        case 1:
            return -0.0f;
        case 2:
            return 1.0f;
        case 3:
            return 0.5f;
        case 4:
            return 0.25f;
        case 5:
            return 1.0f / 255.0f;
        case 6:
            return std::numeric_limits<float>::quiet_NaN();
        case 7:
            return -std::numeric_limits<float>::quiet_NaN();
        case 8:
            return std::numeric_limits<float>::infinity();
        case 9:
            return -std::numeric_limits<float>::infinity();
        case 10:
            return 1e30f;
        case 11:
            return -1e30f;
        case 12:
            return FLT_MAX;
        case 13:
            return 8421504.5f;  // about 2^31 / 255
        case 14:
            return 3.7e16f;  // about 2^63 / 255
        case 15:
            return std::numeric_limits<float>::denorm_min();
        case 16:
            return 0.999f;
        case 17:
            return -1.0f;
        default:
            return in.rawFloat();
    }
}

double specialDouble(ByteReader& in) {
    switch (in.below(10)) {
        case 0:
            return 0.0;
        case 1:
            return -0.0;
        case 2:
            return 1.0;
        case 3:
            return -1.0;
        case 4:
            return 0.5;
        case 5:
            return std::numeric_limits<double>::quiet_NaN();
        case 6:
            return std::numeric_limits<double>::infinity();
        case 7:
            return -1e300;
        case 8:
            return 1e300;
        default:
            return in.rawDouble();
    }
}

UT_Vector3 specialColour(ByteReader& in) {
    const float r = specialFloat(in);
    const float g = specialFloat(in);
    const float b = specialFloat(in);
    return UT_Vector3(r, g, b);
}

// ---- The input detail ----

struct Input {
    GU_Detail detail;
    std::vector<UT_Vector3> palette;  // colours the entries are likely to pick
};

std::int32_t layerNumber(ByteReader& in) {
    switch (in.below(6)) {
        case 0:
            return 0;
        case 1:
            return 2;
        case 2:
            return -1;
        case 3:
            return 7;
        case 4:
            return INT_MIN;
        default:
            return INT_MAX;
    }
}

void setDetailInt(GU_Detail& detail, const char* name, std::int32_t value) {
    const int offset = detail.addDetailAttrib(name, 4, GB_ATTRIB_INT);
    if (offset >= 0)
        std::memcpy(detail.detailAttribData() + offset, &value, sizeof value);
}

std::unique_ptr<Input> buildInput(ByteReader& in) {
    auto input = std::make_unique<Input>();
    GU_Detail& detail = input->detail;
    const unsigned prims = in.below(kMaxPrimitives + 1);
    if (in.flag())
        detail.addPrimitiveAttrib("pad", 4, GB_ATTRIB_INT);  // so the colour is not at offset 0

    // Where the colour goes: none, plain, layer 1, a layer of its own, a layer without its
    // attribute, or a "Cd" that is not three floats.
    std::string colourName = "Cd";
    int colourSize = 12;
    int colourType = GB_ATTRIB_FLOAT;
    bool hasColour = true;
    switch (in.below(6)) {
        case 0:
            hasColour = false;
            break;
        case 1:
            break;
        case 2:
            setDetailInt(detail, "currentlayer", 1);
            break;
        case 3: {
            const std::int32_t layer = layerNumber(in);
            setDetailInt(detail, "currentlayer", layer);
            colourName += std::to_string(layer);
            if (in.flag())
                detail.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
            break;
        }
        case 4:
            setDetailInt(detail, "currentlayer", layerNumber(in));
            break;
        default:
            if (in.flag())
                colourSize = 16;
            else
                colourType = GB_ATTRIB_INT;
            break;
    }
    const int colourOffset =
        hasColour ? detail.addPrimitiveAttrib(colourName.c_str(), colourSize, colourType) : -1;

    const unsigned paletteSize = 1 + in.below(4);
    for (unsigned i = 0; i < paletteSize; ++i)
        input->palette.push_back(specialColour(in));

    for (unsigned p = 0; p < prims; ++p) {
        const unsigned base = static_cast<unsigned>(detail.pointCount());
        for (unsigned v = 0; v < 3; ++v)
            detail.appendPoint(UT_Vector3(static_cast<float>(p + v), static_cast<float>(v), 0));
        const unsigned tri[3] = {base, base + 1, base + 2};
        const long long prim = detail.appendPrimitive(tri, 3);
        if (colourOffset < 0)
            continue;
        const UT_Vector3 colour =
            in.below(8) == 0 ? specialColour(in) : input->palette[in.below(paletteSize)];
        const float rgb[3] = {colour[0], colour[1], colour[2]};
        std::memcpy(detail.primitiveAttribData(prim) + colourOffset, rgb, sizeof rgb);
    }

    const unsigned groups = in.below(4);
    for (unsigned g = 0; g < groups; ++g) {
        GB_PrimitiveGroup* group = detail.primitiveGroups().newGroup(kInputGroupNames[in.below(5)]);
        for (unsigned p = 0; p < prims; ++p) {
            if (in.flag())
                HOST_Internals::addMember(*group, p);
        }
    }
    return input;
}

// ---- What the node is expected to do, worked out independently of its code ----

struct EntryView {
    UT_String name;
    bool enabled = true;
    bool isolate = false;
    UT_Vector3 colour;

    // Whether the cook makes a group for this entry and fills it.
    bool live() const { return enabled && !name.isAbsent() && !name.isEmpty(); }
};

int entryCount(const SOP_Hueslice& node) {
    return node.evalInt(kNumEntriesToken, 0, 0.0);
}

std::vector<EntryView> readEntries(const SOP_Hueslice& node) {
    std::vector<EntryView> entries;
    const int count = entryCount(node);
    for (int i = 1; i <= count; ++i) {
        EntryView entry;
        node.evalStringInst(kGroupPattern, &i, entry.name, 0, 0.0);
        entry.enabled = node.evalIntInst(kEnablePattern, &i, 0, 0.0) != 0;
        entry.isolate = node.evalIntInst(kIsolatePattern, &i, 0, 0.0) != 0;
        for (int c = 0; c < 3; ++c)
            entry.colour[c] = static_cast<float>(node.evalFloatInst(kColourPattern, &i, c, 0.0));
        entries.push_back(entry);
    }
    return entries;
}

// The colour attribute of the detail's layer: "Cd", or "Cd<n>" when the int detail attribute
// "currentlayer" is there and not 1; only three floats count. Negative when missing.
int colourOffsetOf(const GB_Detail& detail) {
    std::string name = "Cd";
    const int layerOffset = detail.detailAttribs().getOffset("currentlayer", 4, GB_ATTRIB_INT);
    if (layerOffset >= 0) {
        std::int32_t layer;
        std::memcpy(&layer, detail.detailAttribData() + layerOffset, sizeof layer);
        if (layer != 1)
            name += std::to_string(layer);
    }
    return detail.primitiveAttribs().getOffset(name.c_str(), 12, GB_ATTRIB_FLOAT);
}

UT_Vector3 colourOf(const GB_Detail& detail, long long prim, int offset) {
    float rgb[3];
    std::memcpy(rgb, detail.primitiveAttribData(prim) + offset, sizeof rgb);
    return UT_Vector3(rgb[0], rgb[1], rgb[2]);
}

bool sameColour(const UT_Vector3& a, const UT_Vector3& b) {
    if (a[0] == b[0] && a[1] == b[1] && a[2] == b[2])
        return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::map<std::string, std::vector<unsigned>> groupsOf(const GU_Detail& detail) {
    std::map<std::string, std::vector<unsigned>> result;
    for (const GB_PrimitiveGroup* group : detail.primitiveGroups().groups())
        result[group->getName()] = group->members();
    return result;
}

bool hasMember(const GB_PrimitiveGroup* group, unsigned prim) {
    return group && group->contains(prim);
}

void checkCook(const SOP_Hueslice& node, const GU_Detail& input) {
    const GU_Detail* cooked = node.getCookedGeo();
    check(cooked != nullptr, kTarget, "no cooked geometry after a cook");
    const long long prims = cooked->primitiveCount();
    check(prims == input.primitiveCount(), kTarget, "cook changed the number of primitives");
    for (const GB_PrimitiveGroup* group : cooked->primitiveGroups().groups()) {
        for (unsigned member : group->members()) {
            check(member < prims, kTarget,
                  std::string("group ") + group->getName() + " holds a primitive past the end");
        }
    }

    const std::vector<EntryView> entries = readEntries(node);
    UT_String firstName;
    const int first = 1;
    node.evalStringInst(kGroupPattern, &first, firstName, 0, 0.0);
    const int offset = colourOffsetOf(*cooked);
    if (firstName.isEmpty() || offset < 0) {
        // Only a copy: the groups are the input's.
        check(groupsOf(*cooked) == groupsOf(input), kTarget,
              "a cook that only copies changed the groups");
        return;
    }

    const EntryView* lastIsolating = nullptr;
    bool liveNamedHidden = false;
    for (const EntryView& entry : entries) {
        if (entry.isolate)
            lastIsolating = &entry;
        if (entry.live() && entry.name == kHiddenGroupName)
            liveNamedHidden = true;
    }
    // Isolation rewrites the hidden group; an entry of that name then no longer holds its
    // colour's primitives, so neither check below can say what to expect.
    if (lastIsolating && liveNamedHidden)
        return;

    // Each primitive belongs to the group of the first entry with its quantised colour, when
    // that entry is live, and to no other entry's group. Entries sharing a name share a group.
    std::vector<UT_Vector3> keys;
    for (const EntryView& entry : entries)
        keys.push_back(quantiseKey(entry.colour));
    std::set<std::string> liveNames;
    for (const EntryView& entry : entries) {
        if (entry.live())
            liveNames.insert(entry.name.buffer());
    }
    for (long long p = 0; p < prims; ++p) {
        const UT_Vector3 key = quantiseKey(colourOf(*cooked, p, offset));
        const EntryView* chosen = nullptr;
        for (std::size_t i = 0; i < entries.size() && !chosen; ++i) {
            if (keys[i][0] == key[0] && keys[i][1] == key[1] && keys[i][2] == key[2])
                chosen = &entries[i];
        }
        const bool expectMember = chosen && chosen->live();
        const std::string expectedName = expectMember ? chosen->name.buffer() : "";
        int memberships = 0;
        for (const std::string& name : liveNames) {
            const bool member =
                hasMember(cooked->primitiveGroups().find(name.c_str()), static_cast<unsigned>(p));
            memberships += member ? 1 : 0;
            if (member != (expectMember && name == expectedName)) {
                fail(kTarget, "primitive " + std::to_string(p) + (member ? " is" : " is not") +
                                  " in entry group \"" + name.substr(0, 40) + "\"");
            }
        }
        check(memberships <= 1, kTarget,
              "primitive " + std::to_string(p) + " is in more than one entry group");
    }

    // The hidden group is the complement of the last isolating entry's group, or everything
    // when that entry has no group.
    if (!lastIsolating)
        return;
    const GB_PrimitiveGroup* hidden = cooked->primitiveGroups().find(kHiddenGroupName);
    check(hidden != nullptr, kTarget, "an isolating cook left no hidden group");
    const GB_PrimitiveGroup* shown =
        lastIsolating->live() ? cooked->primitiveGroups().find(lastIsolating->name.buffer())
                              : nullptr;
    for (long long p = 0; p < prims; ++p) {
        const auto prim = static_cast<unsigned>(p);
        check(hidden->contains(prim) != hasMember(shown, prim), kTarget,
              "hidden group is not the complement of the last isolating entry's group at "
              "primitive " +
                  std::to_string(p));
    }
}

void checkInitialise(const SOP_Hueslice& node, int countBefore) {
    const GU_Detail* cooked = node.getCookedDetail();
    const int offset = cooked ? colourOffsetOf(*cooked) : -1;
    if (offset < 0) {
        check(entryCount(node) == countBefore, kTarget,
              "Initialise without cooked colours changed the entry count");
        return;
    }
    std::vector<UT_Vector3> distinct;
    for (long long p = 0; p < cooked->primitiveCount(); ++p) {
        const UT_Vector3 colour = colourOf(*cooked, p, offset);
        const bool seen = std::any_of(distinct.begin(), distinct.end(),
                                      [&](const UT_Vector3& d) { return sameColour(d, colour); });
        if (!seen)
            distinct.push_back(colour);
    }
    check(entryCount(node) == static_cast<int>(distinct.size()), kTarget,
          "Initialise made " + std::to_string(entryCount(node)) + " entries for " +
              std::to_string(distinct.size()) + " distinct colours");
}

std::vector<std::uint32_t> colourBits(const SOP_Hueslice& node) {
    std::vector<std::uint32_t> bits;
    for (const EntryView& entry : readEntries(node)) {
        for (int c = 0; c < 3; ++c) {
            std::uint32_t b;
            const float f = entry.colour[c];
            std::memcpy(&b, &f, sizeof b);
            bits.push_back(b);
        }
    }
    return bits;
}

// Entry colours as (r, g, b) bit triples, sorted, for comparing as a multiset.
std::vector<std::vector<std::uint32_t>> colourMultiset(const std::vector<std::uint32_t>& bits) {
    std::vector<std::vector<std::uint32_t>> triples;
    for (std::size_t i = 0; i + 2 < bits.size(); i += 3)
        triples.push_back({bits[i], bits[i + 1], bits[i + 2]});
    std::sort(triples.begin(), triples.end());
    return triples;
}

std::string hexTriple(const std::vector<std::uint32_t>& triple) {
    char text[40];
    std::snprintf(text, sizeof text, "%08x %08x %08x", triple[0], triple[1], triple[2]);
    return text;
}

// The first colour (as bits) that one multiset has and the other lacks.
std::string firstDifference(const std::vector<std::vector<std::uint32_t>>& before,
                            const std::vector<std::vector<std::uint32_t>>& after) {
    std::vector<std::vector<std::uint32_t>> lost;
    std::vector<std::vector<std::uint32_t>> gained;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(lost));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(gained));
    std::string text = std::to_string(before.size()) + " entries";
    if (!lost.empty())
        text += ", lost " + hexTriple(lost.front());
    if (!gained.empty())
        text += ", gained " + hexTriple(gained.front());
    return text;
}

void checkEnables(SOP_Hueslice& node) {
    const int count = entryCount(node);
    bool isolating = false;
    for (int i = 1; i <= count; ++i)
        isolating = isolating || node.evalIntInst(kIsolatePattern, &i, 0, 0.0) != 0;
    for (int i = 1; i <= count; ++i) {
        const std::string n = std::to_string(i);
        const PRM_Parm* enable = node.findParm(("enable" + n).c_str());
        if (enable)
            check(enable->isEnabled() == !isolating, kTarget,
                  "enable" + n + " has the wrong state");
        const bool control =
            node.evalIntInst(isolating ? kIsolatePattern : kEnablePattern, &i, 0, 0.0) != 0;
        for (const char* stem : {"col", "group", "isolate"}) {
            const PRM_Parm* parm = node.findParm((stem + n).c_str());
            if (parm)
                check(parm->isEnabled() == control, kTarget, stem + n + " has the wrong state");
        }
    }
}

// ---- Decoding the list and the steps ----

int decodeCount(ByteReader& in) {
    switch (in.below(8)) {
        case 0:
            return 0;
        case 1:
            return -1;
        case 2:
            return -1 - static_cast<int>(in.below(100));
        case 3:
            return kLargeCountBase + static_cast<int>(in.below(kLargeCountSpread));
        default:
            return 1 + static_cast<int>(in.below(8));
    }
}

std::string decodeName(ByteReader& in, const std::string& previous) {
    switch (in.below(10)) {
        case 0:
            return "";
        case 1:
            return "group1";
        case 2:
            return "group2";
        case 3:
            return kHiddenGroupName;
        case 4:
            return kInputGroupNames[in.below(5)];
        case 5:
            return std::string(200 + in.below(3000), static_cast<char>('a' + in.below(26)));
        case 6:
            return previous;
        case 7:
            return "layer2group1";
        case 8:
            return "a b";
        default:
            return std::string(1, static_cast<char>('a' + in.below(3)));
    }
}

UT_Vector3 decodeEntryColour(ByteReader& in, const Input& input) {
    if (in.below(4) == 0)
        return specialColour(in);
    return input.palette[in.below(static_cast<unsigned>(input.palette.size()))];
}

// An entry index to edit: usually a low one, sometimes anywhere in (or just past) the list.
int decodeIndex(ByteReader& in, int count) {
    if (count > 8 && in.flag())
        return 1 + static_cast<int>(in.below(static_cast<unsigned>(count) + 1));
    return 1 + static_cast<int>(in.below(9));
}

void editEntry(ByteReader& in, SOP_Hueslice& node, const Input& input, int index,
               std::string& previousName) {
    switch (in.below(5)) {
        case 0: {
            previousName = decodeName(in, previousName);
            node.setStringInst(UT_String(previousName.c_str()), kGroupPattern, &index, 0, 0.0);
            break;
        }
        case 1: {
            const UT_Vector3 colour = decodeEntryColour(in, input);
            for (int c = 0; c < 3; ++c)
                node.setFloatInst(colour[c], kColourPattern, &index, c, 0.0);
            break;
        }
        case 2:
            node.setIntInst(in.flag() ? 1 : 0, kEnablePattern, &index, 0, 0.0);
            break;
        case 3:
            node.setIntInst(in.flag() ? 1 : 0, kIsolatePattern, &index, 0, 0.0);
            break;
        default:
            break;  // left as it is
    }
}

void fillEntries(ByteReader& in, SOP_Hueslice& node, const Input& input) {
    const int count = decodeCount(in);
    node.setInt(kNumEntriesToken, 0, 0.0, count);
    std::string previousName;
    const int edits = count > 8 ? 8 : std::max(count, 0) * 3;
    for (int e = 0; e < edits; ++e)
        editEntry(in, node, input, decodeIndex(in, count), previousName);
}

void setRandomKeys(ByteReader& in, SOP_Hueslice& node) {
    const int count = entryCount(node);
    std::string token;
    int components = 1;
    bool isCount = false;
    switch (in.below(4)) {
        case 0:
            token = kNumEntriesToken;
            isCount = true;
            break;
        case 1:
            token = "col" + std::to_string(decodeIndex(in, count));
            components = 3;
            break;
        case 2:
            token = "enable" + std::to_string(decodeIndex(in, count));
            break;
        default:
            token = "isolate" + std::to_string(decodeIndex(in, count));
            break;
    }
    PRM_Parm* parm = node.getParm(token.c_str());
    if (!parm)
        return;
    const int comp = static_cast<int>(in.below(static_cast<unsigned>(components)));
    std::vector<PRM_Key> keys;
    const unsigned keyCount = in.below(4);
    for (unsigned k = 0; k < keyCount; ++k) {
        PRM_Key key{};
        key.time = specialDouble(in);
        // Keys on the count stay small: the list must stay cheap to cook.
        key.value = isCount ? static_cast<double>(decodeCount(in)) : specialDouble(in);
        keys.push_back(key);
    }
    parm->setKeys(comp, std::move(keys));
}

fpreal decodeTime(ByteReader& in) {
    switch (in.below(6)) {
        case 0:
            return 0.0;
        case 1:
            return 1.0;
        case 2:
            return -1.0;
        case 3:
            return 0.5;
        case 4:
            return std::numeric_limits<double>::quiet_NaN();
        default:
            return specialDouble(in);
    }
}

}  // namespace

int fuzzNode(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    std::shared_ptr<Input> input = buildInput(in);
    ScopedNode node;
    node->setInput(0, std::shared_ptr<const GU_Detail>(input, &input->detail));
    fillEntries(in, *node, *input);

    std::string previousName;
    for (unsigned step = 0; step < kMaxSteps && !in.empty(); ++step) {
        switch (in.below(8)) {
            case 0:
                node->cook(decodeTime(in));
                checkCook(*node, input->detail);
                break;
            case 1: {
                const int before = entryCount(*node);
                node->pressButton(kInitialiseToken);
                checkInitialise(*node, before);
                break;
            }
            case 2: {
                const int before = entryCount(*node);
                const auto colours = colourMultiset(colourBits(*node));
                node->pressButton(kSortToken);
                check(entryCount(*node) == before, kTarget, "Sort changed the entry count");
                const auto after = colourMultiset(colourBits(*node));
                if (after != colours)
                    fail(kTarget, "Sort did not permute the entry colours: " +
                                      firstDifference(colours, after));
                break;
            }
            case 3:
                node->updateParmEnables();
                checkEnables(*node);
                break;
            case 4:
                setRandomKeys(in, *node);
                break;
            case 5: {
                const int count = entryCount(*node);
                editEntry(in, *node, *input, decodeIndex(in, count), previousName);
                break;
            }
            case 6:
                node->setInt(kNumEntriesToken, 0, 0.0, decodeCount(in));
                break;
            default:
                input = buildInput(in);
                node->setInput(0, std::shared_ptr<const GU_Detail>(input, &input->detail));
                break;
        }
    }
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzNode)
