// The scene reader on arbitrary text, applied to a fresh node. A refused scene must leave the
// node as it was; an accepted one must save, apply to another fresh node and save identically.

#include <io/io.h>
#include <io/scene/scene.h>

#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace hueslice::fuzz {

namespace {
constexpr int kMaxRoundTripEntries = 2000;
}

int fuzzScene(const std::uint8_t* data, std::size_t size) {
    constexpr const char* kTarget = "scene_fuzzer";
    ScopedNode node;
    const std::string before = io::saveScene(*node);
    try {
        io::applyScene(asText(data, size), "fuzz.json", *node);
    } catch (const io::InputError&) {
        check(io::saveScene(*node) == before, kTarget, "a refused scene changed the node");
        return 0;
    }
    // A list of tens of thousands of entries saves to megabytes of text; the round trip of
    // such a list would take most of the time of every input that reaches it.
    if (node->evalInt(kNumEntriesToken, 0, 0.0) > kMaxRoundTripEntries)
        return 0;
    std::string saved;
    try {
        saved = io::saveScene(*node);
    } catch (const io::OutputError&) {
        return 0;
    }
    ScopedNode other;
    try {
        io::applyScene(saved, "saved.json", *other);
    } catch (const io::InputError& e) {
        fail(kTarget, std::string("a saved scene does not apply: ") + e.what());
    }
    check(io::saveScene(*other) == saved, kTarget, "scene changed on a round trip");
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzScene)
