#pragma once

// Checks shared by the geometry reader targets.

#include <HOST_Internals.h>
#include <algorithm>
#include <string>
#include <vector>

#include <io/formats/json/json_geometry.h>
#include <io/formats/obj/obj.h>
#include <io/io.h>

#include "fuzz_support.h"

namespace hueslice::fuzz {

// A small detail with a group and attributes, put in a reader's output before reading so that
// a reader that fails part way and leaves its output changed is caught.
inline GU_Detail sentinelDetail() {
    GU_Detail detail;
    detail.appendPoint(UT_Vector3(1, 2, 3));
    detail.appendPoint(UT_Vector3(4, 5, 6));
    detail.appendPoint(UT_Vector3(7, 8, 9));
    const unsigned tri[3] = {0, 1, 2};
    detail.appendPrimitive(tri, 3);
    const int offset = detail.addPrimitiveAttrib("Cd", 12, GB_ATTRIB_FLOAT);
    const float red[3] = {1, 0, 0};
    std::memcpy(detail.primitiveAttribData(0) + offset, red, sizeof red);
    HOST_Internals::addMember(*detail.primitiveGroups().newGroup("sentinel"), 0);
    return detail;
}

inline std::string sentinelJson() {
    static const std::string text = io::writeJsonGeometry(sentinelDetail(), "sentinel.json");
    return text;
}

// After a reader refused its input: the output must be the sentinel it held before.
inline void checkUntouched(const char* target, const GU_Detail& out) {
    check(io::writeJsonGeometry(out, "out.json") == sentinelJson(), target,
          "a refused input changed the reader's output");
}

// Every group member must be a primitive of the detail.
inline void checkGroupsInRange(const char* target, const GU_Detail& detail) {
    const auto count = static_cast<unsigned long long>(detail.primitiveCount());
    for (const GB_PrimitiveGroup* group : detail.primitiveGroups().groups()) {
        for (unsigned member : group->members()) {
            check(member < count, target,
                  std::string("group ") + group->getName() + " holds a primitive past the end");
        }
    }
}

// The detail as JSON, read back and written again, must give the same text. A detail the
// writer refuses is skipped.
inline void checkJsonRoundTrip(const char* target, const GU_Detail& detail) {
    std::string first;
    try {
        first = io::writeJsonGeometry(detail, "first.json");
    } catch (const io::OutputError&) {
        return;
    }
    GU_Detail back;
    try {
        io::readJsonGeometry(first, "first.json", back);
    } catch (const io::InputError& e) {
        fail(target, std::string("written JSON geometry does not read back: ") + e.what());
    }
    check(io::writeJsonGeometry(back, "second.json") == first, target,
          "JSON geometry changed on a round trip");
}

// The detail as OBJ, read back, must have as many faces and as many groups with faces: the
// writer may rename a group OBJ cannot hold, but never merges two. A detail the writer refuses
// is skipped, and so is one without faces, which makes an OBJ that is refused as empty.
inline void checkObjRoundTrip(const char* target, const GU_Detail& detail) {
    if (detail.primitiveCount() == 0)
        return;
    io::ObjText written;
    try {
        written = io::writeObj(detail, "back.mtl", "back.obj");
    } catch (const io::OutputError&) {
        return;
    }
    GU_Detail back;
    try {
        io::readObj(written.obj, "back.obj", written.mtl, "back.mtl", back);
    } catch (const io::InputError& e) {
        fail(target, std::string("written OBJ does not read back: ") + e.what());
    }
    check(back.primitiveCount() == detail.primitiveCount(), target,
          "written OBJ reads back with a different number of faces");
    const auto groupsWithFaces = [](const GU_Detail& d) {
        std::size_t n = 0;
        for (const GB_PrimitiveGroup* g : d.primitiveGroups().groups())
            n += !g->members().empty();
        return n;
    };
    // Faces in no group come back in one more group when other faces have groups.
    std::vector<bool> grouped(static_cast<std::size_t>(detail.primitiveCount()));
    for (const GB_PrimitiveGroup* g : detail.primitiveGroups().groups()) {
        for (unsigned m : g->members()) {
            if (m < grouped.size())
                grouped[m] = true;
        }
    }
    const bool someIn = std::find(grouped.begin(), grouped.end(), true) != grouped.end();
    const bool someOut = std::find(grouped.begin(), grouped.end(), false) != grouped.end();
    check(groupsWithFaces(back) == groupsWithFaces(detail) + (someIn && someOut), target,
          "written OBJ reads back with a different number of groups");
}

// What a read gives, as text to compare: the refusal's message, or the notes and the detail as
// JSON. `read(out)` reads into `out` and returns the notes.
template <typename Read>
std::string outcomeOf(Read read) {
    GU_Detail out = sentinelDetail();
    try {
        std::string text;
        for (const std::string& note : read(out))
            text += note + "\n";
        return text + io::writeJsonGeometry(out, "out.json");
    } catch (const io::InputError& e) {
        return std::string("refused: ") + e.what();
    } catch (const io::OutputError& e) {
        return std::string("unwritable: ") + e.what();
    }
}

// The checks of a reader whose faces are triangles in at most one group each (a part per
// group): bad input leaves the detail untouched; what was read round-trips through JSON and OBJ,
// and through `write` and `read` again with one face per visible face. `read(bytes, name, out)`
// and `write(detail, name)` (giving an io::WrittenFile) are the format's own.
template <typename Read, typename Write>
int checkPartsFormat(const char* target, const char* format, std::string_view bytes,
                     const std::string& name, const std::string& backName, Read read, Write write) {
    GU_Detail out = sentinelDetail();
    try {
        read(bytes, name, out);
    } catch (const io::InputError&) {
        checkUntouched(target, out);
        return 0;
    }
    checkGroupsInRange(target, out);
    checkJsonRoundTrip(target, out);

    io::WrittenFile written;
    try {
        written = write(out, backName);
    } catch (const io::OutputError&) {
        return 0;
    }
    const GB_PrimitiveGroup* hidden = out.primitiveGroups().find(io::kHiddenGroupName);
    const long long visible =
        out.primitiveCount() - static_cast<long long>(hidden ? hidden->entries() : 0);
    GU_Detail back;
    try {
        read(written.bytes, backName, back);
    } catch (const io::InputError& e) {
        fail(target, std::string("written ") + format + " does not read back: " + e.what());
    }
    check(back.primitiveCount() == visible, target,
          std::string("written ") + format + " reads back with a different number of faces");
    return 0;
}

}  // namespace hueslice::fuzz
