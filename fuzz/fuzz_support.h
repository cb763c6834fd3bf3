#pragma once

// Pieces shared by the fuzz targets: failing loudly, reading a fuzz input as a stream of
// choices, and making a node the way the host does.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <HOST_Session.h>
#include <parms/parm_templates.h>
#include <sop/SOP_Hueslice.h>

namespace hueslice::fuzz {

// A broken invariant: one line on stderr, then abort, which libFuzzer and the replay test both
// report as a crash with this input.
[[noreturn]] inline void fail(const char* target, const std::string& what) {
    std::fprintf(stderr, "%s: invariant broken: %s\n", target, what.c_str());
    std::abort();
}

inline void check(bool ok, const char* target, const std::string& what) {
    if (!ok)
        fail(target, what);
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Reads choices off the front of a fuzz input. Past the end every read gives zero, so any
// input decodes to something and short inputs decode to small cases.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* bytes, std::size_t length) : data(bytes), size(length) {}

    bool empty() const { return pos >= size; }

    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }

    // A value in [0, bound), bound > 0.
    unsigned below(unsigned bound) {
        const unsigned value =
            bound <= 256 ? byte() : (static_cast<unsigned>(byte()) << 8) | byte();
        return value % bound;
    }

    bool flag() { return (byte() & 1) != 0; }

    std::uint32_t word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | byte();
        return value;
    }

    float rawFloat() {
        const std::uint32_t bits = word();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    double rawDouble() {
        const std::uint64_t bits = (static_cast<std::uint64_t>(word()) << 32) | word();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

  private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
};

// One session with the operator registered straight from the node's code, as the tests do,
// for the life of the process; nodes are made and destroyed per input.
inline HOST_Session& session() {
    static HOST_Session* const instance = [] {
        auto* made = new HOST_Session;
        made->operatorTable().addOperator(new OP_Operator(
            "hueslice", "Hueslice", hueslice::constructNode, hueslice::parmTemplates, 1, 1));
        return made;
    }();
    return *instance;
}

// A fresh node that is destroyed when this goes out of scope, whatever is thrown.
class ScopedNode {
  public:
    ScopedNode() : node(static_cast<SOP_Hueslice*>(session().createNode("hueslice"))) {
        if (!node)
            fail("fuzz", "cannot make a hueslice node: " + session().lastError());
    }
    ~ScopedNode() { session().destroyNode(node); }
    ScopedNode(const ScopedNode&) = delete;
    ScopedNode& operator=(const ScopedNode&) = delete;

    SOP_Hueslice& operator*() const { return *node; }
    SOP_Hueslice* operator->() const { return node; }

  private:
    SOP_Hueslice* node;
};

}  // namespace hueslice::fuzz
