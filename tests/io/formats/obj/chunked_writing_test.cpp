#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "io/formats/obj/obj.h"
#include "io/io.h"
#include "io/text/text_chunks.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using detail::ChunkShape;
using detail::chunkShape;
using detail::TextBuffer;

// Sets the chunk shape for one test and puts the old one back.
class ShapeScope {
  public:
    ShapeScope(std::size_t lines, unsigned workers) : saved(chunkShape()) {
        chunkShape() = {lines, workers};
    }
    ~ShapeScope() { chunkShape() = saved; }

  private:
    ChunkShape saved;
};

void addGroup(GU_Detail& geo, const char* name, const std::vector<unsigned>& members) {
    GB_PrimitiveGroup* g = geo.primitiveGroups().newGroup(name);
    for (unsigned m : members)
        HOST_Internals::addMember(*g, m);
}

// Seven faces whose written order differs from their input order: sets {a}, {b}, {a b} and
// none, met in that order; red, green and blue numbered differently in each order; a material
// change within a set, a set change that keeps the material, and ungrouped faces after others.
GU_Detail interleavedMesh() {
    GU_Detail geo = testing::makeMesh(
        {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5f, 2, -1.25f}},
        {{0, 1, 2}, {0, 2, 3}, {1, 2, 4}, {0, 1, 2, 3}, {2, 3, 4}, {0, 3, 4}, {1, 4, 2}});
    const float colours[7][3] = {{1, 0, 0}, {0, 0, 1}, {0, 1, 0}, {0, 1, 0},
                                 {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (long long f = 0; f < 7; ++f)
        testing::setColour(geo, f, colours[f][0], colours[f][1], colours[f][2]);
    addGroup(geo, "a", {0, 2, 3, 5});
    addGroup(geo, "b", {1, 3, 6});
    return geo;
}

const char* const kHead = "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.5 2 -1.25\n";

const char* const kGroupedFaces =
    "g a\nusemtl colour_0\nf 1 2 3\nusemtl colour_1\nf 2 3 5\nf 1 4 5\n"
    "g b\nusemtl colour_2\nf 1 3 4\nf 2 5 3\n"
    "g a b\nusemtl colour_1\nf 1 2 3 4\n"
    "g ungrouped\nusemtl colour_0\nf 3 4 5\n";
const char* const kGroupedMtl =
    "newmtl colour_0\nKd 1 0 0\nnewmtl colour_1\nKd 0 1 0\nnewmtl colour_2\nKd 0 0 1\n";

const char* const kInputOrderFaces =
    "g a\nusemtl colour_0\nf 1 2 3\n"
    "g b\nusemtl colour_1\nf 1 3 4\n"
    "g a\nusemtl colour_2\nf 2 3 5\n"
    "g a b\nf 1 2 3 4\n"
    "g ungrouped\nusemtl colour_0\nf 3 4 5\n"
    "g a\nusemtl colour_2\nf 1 4 5\n"
    "g b\nusemtl colour_1\nf 2 5 3\n";
const char* const kInputOrderMtl =
    "newmtl colour_0\nKd 1 0 0\nnewmtl colour_1\nKd 0 0 1\nnewmtl colour_2\nKd 0 1 0\n";

std::string streamed(const GU_Detail& geo, bool keepOrder, ObjStream* kept = nullptr) {
    ObjStream stream = streamObj(geo, "m.mtl", "m.obj", keepOrder);
    std::string text;
    stream.writeObj([&text](std::string_view piece) { text.append(piece); });
    if (kept)
        *kept = std::move(stream);
    return text;
}

// Every chunk edge: with one line per chunk each face starts a chunk, so the state a chunk
// starts from (set, material) is always the face before's; larger chunks put the edges
// elsewhere, and more chunks than slots make the workers reuse them.
class ObjChunks : public ::testing::TestWithParam<std::tuple<unsigned, std::size_t>> {};

TEST_P(ObjChunks, GiveTheSameBytesAtEveryEdge) {
    const auto [workers, lines] = GetParam();
    const ShapeScope shape(lines, workers);
    const GU_Detail geo = interleavedMesh();
    ObjStream grouped, inputOrder;
    EXPECT_EQ(streamed(geo, false, &grouped), std::string(kHead) + kGroupedFaces);
    EXPECT_EQ(grouped.mtl, kGroupedMtl);
    EXPECT_EQ(streamed(geo, true, &inputOrder), std::string(kHead) + kInputOrderFaces);
    EXPECT_EQ(inputOrder.mtl, kInputOrderMtl);
}

INSTANTIATE_TEST_SUITE_P(WorkersAndLines, ObjChunks,
                         ::testing::Combine(::testing::Values(1u, 2u, 4u),
                                            ::testing::Values(std::size_t{1}, std::size_t{2},
                                                              std::size_t{3}, std::size_t{6},
                                                              std::size_t{1000})));

// A bigger mesh with many sets and colours in short runs: every shape gives what one chunk on
// one worker gives.
TEST(ObjChunks, ManyChunksMatchOneChunk) {
    GU_Detail geo;
    for (unsigned p = 0; p < 300; ++p)
        geo.appendPoint(UT_Vector3(static_cast<float>(p) / 7.0f, 1.0f / (1.0f + p), -0.1f * p));
    std::vector<std::vector<unsigned>> members(5);
    unsigned state = 12345;
    for (unsigned f = 0; f < 3000; ++f) {
        state = state * 1103515245u + 12345u;
        const unsigned corners[4] = {f % 300, (f * 7 + 1) % 300, (f * 13 + 2) % 300,
                                     (state >> 8) % 300};
        geo.appendPrimitive(corners, 3 + (state >> 20) % 2);
        const float shade = static_cast<float>((f / (1 + (state >> 28))) % 11) / 10.0f;
        testing::setColour(geo, f, shade, 0.25f, 1.0f - shade);
        for (unsigned g = 0; g < members.size(); ++g) {
            if ((state >> (g + 10)) % 3 == 0)
                members[g].push_back(f);
        }
    }
    for (unsigned g = 0; g < members.size(); ++g)
        addGroup(geo, ("part" + std::to_string(g)).c_str(), members[g]);
    for (const bool keepOrder : {false, true}) {
        std::string whole;
        {
            const ShapeScope shape(1u << 20, 1);
            whole = streamed(geo, keepOrder);
        }
        for (const auto& [lines, workers] :
             {std::pair<std::size_t, unsigned>{1, 4}, {7, 2}, {64, 4}, {299, 1}, {301, 2}}) {
            const ShapeScope shape(lines, workers);
            EXPECT_EQ(streamed(geo, keepOrder), whole) << "keepOrder " << keepOrder << ", " << lines
                                                       << " lines, " << workers << " workers";
        }
    }
}

TEST(ObjWrite, FaceWithoutVerticesIsReportedFirstInWrittenOrder) {
    // Face 3 comes before face 1 in the file: its set ({a}) is met first.
    GU_Detail geo =
        testing::makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2}, {}, {0, 1, 2}, {}});
    addGroup(geo, "a", {0, 3});
    addGroup(geo, "b", {1, 2});
    try {
        writeObj(geo, "m.mtl", "m.obj");
        ADD_FAILURE() << "no error";
    } catch (const OutputError& e) {
        EXPECT_STREQ(e.what(), "m.obj: primitive 3 has no vertices, which obj cannot carry");
    }
    try {
        writeObj(geo, "m.mtl", "m.obj", true);
        ADD_FAILURE() << "no error";
    } catch (const OutputError& e) {
        EXPECT_STREQ(e.what(), "m.obj: primitive 1 has no vertices, which obj cannot carry");
    }
}

// A fault in the sink (a full disk) or in a worker (memory) at any chunk: the same exception
// reaches the caller, the chunks before it have reached the sink in order, and no thread is
// left behind (the test would hang or the sanitizers would tell).
enum class FaultIn { Sink, Worker };

class ChunkFaults : public ::testing::TestWithParam<std::tuple<unsigned, FaultIn, std::size_t>> {};

TEST_P(ChunkFaults, PropagateAfterTheChunksBefore) {
    const auto [workers, where, failing] = GetParam();
    const ShapeScope shape(1, workers);
    constexpr std::size_t kChunks = 40;
    std::vector<std::string> pieces;
    std::atomic<std::size_t> formatted{0};
    std::size_t deliveredCount = 0;
    const auto format = [&, where = where, failing = failing](std::size_t chunk, TextBuffer& out) {
        ++formatted;
        if (where == FaultIn::Worker && chunk == failing)
            throw std::bad_alloc();
        const std::string text = "chunk " + std::to_string(chunk) + "\n";
        char* at = out.room(text.size());
        text.copy(at, text.size());
        out.advance(at + text.size());
    };
    const TextSink sink = [&, where = where, failing = failing](std::string_view piece) {
        if (where == FaultIn::Sink && pieces.size() == failing)
            throw OutputError("out.obj: disk full");
        pieces.emplace_back(piece);
    };
    try {
        detail::writeChunks(kChunks, format, sink, [&](std::size_t) { ++deliveredCount; });
        ADD_FAILURE() << "no error";
    } catch (const OutputError& e) {
        EXPECT_EQ(where, FaultIn::Sink);
        EXPECT_STREQ(e.what(), "out.obj: disk full");
    } catch (const std::bad_alloc&) {
        EXPECT_EQ(where, FaultIn::Worker);
    }
    ASSERT_EQ(pieces.size(), failing);
    for (std::size_t c = 0; c < pieces.size(); ++c)
        EXPECT_EQ(pieces[c], "chunk " + std::to_string(c) + "\n");
    EXPECT_EQ(deliveredCount, failing);
    // Workers run ahead by a bounded number of chunks, not to the end.
    EXPECT_LE(formatted.load(), failing + 1 + 2 * workers);
}

INSTANTIATE_TEST_SUITE_P(WorkersPlacesAndChunks, ChunkFaults,
                         ::testing::Combine(::testing::Values(1u, 2u, 4u),
                                            ::testing::Values(FaultIn::Sink, FaultIn::Worker),
                                            ::testing::Values(std::size_t{0}, std::size_t{5},
                                                              std::size_t{39})));

TEST(ObjWrite, SinkFaultPropagatesFromTheStream) {
    const ShapeScope shape(2, 4);
    const GU_Detail geo = interleavedMesh();
    const ObjStream stream = streamObj(geo, "m.mtl", "m.obj");
    int calls = 0;
    EXPECT_THROW(stream.writeObj([&calls](std::string_view) {
        if (++calls == 3)
            throw OutputError("m.obj: disk full");
    }),
                 OutputError);
    EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace hueslice::io
