#pragma once

#ifdef HUESLICE_PLUGIN_CODE
#error "a driving-side header of the stand-in host is not part of the plug-in interface"
#endif

#include <cstddef>
#include <utility>
#include <vector>

#include "GB_Detail.h"
#include "HOST_API.h"
#include "OP_Parameters.h"

// The stand-in's own storage and bookkeeping, for host programs, tests and benchmarks: what a
// plug-in never sees. File readers fill groups by primitive number, benchmarks weigh storage,
// and tests make details that a real host may hand a plug-in but that this stand-in would not
// make on its own (holes in the primitive list, records out of order) and count host calls.
class HOST_API HOST_Internals {
  public:
    // Group membership by primitive number, for readers that know numbers, not primitives.
    static void addMember(GB_Group& group, unsigned primIndex) { group.addIndex(primIndex); }
    // Replaces the members by `sorted`, which must be ascending without repeats.
    static void setMembers(GB_Group& group, std::vector<unsigned> sorted) {
        group.assignSorted(std::move(sorted));
    }

    // Heap bytes held for group members (kept groups included), and for the whole detail
    // (storage it shares with its copies included).
    static std::size_t groupBytes(const GB_Detail& detail) {
        return detail.primGroups.memoryBytes();
    }
    static std::size_t groupBytes(const GB_Group& group) { return group.memoryBytes(); }
    static std::size_t detailBytes(const GB_Detail& detail);

    // Makes list element `index` of the detail a hole (null). Out of range does nothing.
    static void makeHole(GB_Detail& detail, long long index);
    // Moves the primitives' attribute records so that primitive i's record lies where the last
    // one's did, and so on: the values stay with their primitives, the records are no longer in
    // list order.
    static void reverseRecords(GB_Detail& detail);
    // With `on`, newGroup makes a group for a null or empty name instead of refusing it.
    static void allowNamelessGroups(GB_Detail& detail, bool on) {
        detail.primGroups.namelessGroups = on;
    }
    // How often destroyGroup was called with a group the detail does not own (one destroyed
    // before, or another detail's): harmless here, freed memory in a real host.
    static long long strayDestroys(const GB_Detail& detail) {
        return detail.primGroups.strayDestroys;
    }

    // How often plug-in-facing operations of the parameters were called since the counts were
    // last reset.
    using CallCounts = OP_Parameters::CallCounts;
    static CallCounts callCounts(const OP_Parameters& parms) { return parms.calls; }
    static void resetCallCounts(const OP_Parameters& parms) { parms.calls = CallCounts(); }
};
