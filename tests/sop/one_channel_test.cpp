// The cook and "Initialise" skip work wherever colours repeat: along runs of equal colour, for a
// raw colour met before, and through an index of the entries' keys. Each of those shortcuts
// compares colours, and one that overlooked a channel would merge colours that differ only
// there. Here neighbouring colours and keys differ in exactly one channel, for each channel in
// turn, in sequences that put each shortcut to work.

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "node_fixture.h"

namespace {

using testing_support::NodeTest;
using testing_support::originalIndices;
using testing_support::quadRow;

// One primitive's colour: the key it quantises to in the varied channel, and which of several
// raw values of that key it has.
struct Shade {
    int key;
    int variant;
};

// A colour that is (0.2, 0.4, 0.6) except in `channel`, which holds a value that quantises to
// `key`. Variants of one key are different floats with the same key.
UT_Vector3 colourOf(int channel, Shade shade) {
    UT_Vector3 c(0.2f, 0.4f, 0.6f);
    c[channel] =
        (static_cast<float>(shade.key) + 0.1f + 0.2f * static_cast<float>(shade.variant)) / 255.0f;
    return c;
}

struct Sequence {
    const char* label;
    std::vector<Shade> shades;
    int keys;  // entries are made for keys 0 .. keys - 1
};

// Runs of equal colour of lengths 1 to 4 whose neighbours differ in the one channel.
Sequence runs() {
    Sequence s{"Runs", {}, 3};
    for (int key : {0, 0, 0, 1, 1, 2, 2, 2, 2, 1, 0, 2, 0, 0})
        s.shades.push_back({key, 0});
    return s;
}

// Raw colours met again after others, alternating with other raw colours of the same key.
Sequence revisits() {
    Sequence s{"Revisits", {}, 3};
    for (int round = 0; round < 4; ++round) {
        for (int key = 0; key < 3; ++key)
            s.shades.push_back({key, (round + key) % 2});
    }
    return s;
}

// Hundreds of keys, each in many raw variants, in a scrambled order: more entries and raw
// colours than any table is sized for at first.
Sequence manyKeys() {
    Sequence s{"ManyKeys", {}, 300};
    for (int i = 0; i < 1800; ++i)
        s.shades.push_back({(i * 7) % 300, (i / 300) % 4});
    return s;
}

class OneChannelTest : public NodeTest,
                       public ::testing::WithParamInterface<std::tuple<int, Sequence>> {
  protected:
    int channel() const { return std::get<0>(GetParam()); }
    const Sequence& sequence() const { return std::get<1>(GetParam()); }

    std::vector<UT_Vector3> colours() const {
        std::vector<UT_Vector3> out;
        for (const Shade& s : sequence().shades)
            out.push_back(colourOf(channel(), s));
        return out;
    }
};

TEST_P(OneChannelTest, CookPutsEachPrimitiveInTheGroupOfItsOwnKey) {
    setInput(quadRow(colours()));
    // Entries in reverse key order, each keyed by a variant the primitives may not use, then
    // one more entry for key 1, which the earlier entry of that key shadows.
    const int keys = sequence().keys;
    for (int key = keys - 1; key >= 0; --key)
        setEntry(keys - key, ("k" + std::to_string(key)).c_str(), colourOf(channel(), {key, 3}));
    setEntry(keys + 1, "shadowed", colourOf(channel(), {1, 0}));
    const GU_Detail& out = cook();

    std::map<int, std::vector<int>> expected;
    for (size_t p = 0; p < sequence().shades.size(); ++p)
        expected[sequence().shades[p].key].push_back(static_cast<int>(p));
    for (int key = 0; key < keys; ++key) {
        EXPECT_EQ(originalIndices(out, ("k" + std::to_string(key)).c_str()), expected[key])
            << "key " << key;
    }
    EXPECT_EQ(originalIndices(out, "shadowed"), std::vector<int>{});
}

TEST_P(OneChannelTest, InitialiseMakesOneEntryPerRawColour) {
    const std::vector<UT_Vector3> input = colours();
    setInput(quadRow(input));
    cook();
    node->initialiseColours();

    const auto bitsOf = [](const UT_Vector3& c) {
        std::vector<unsigned> bits(3);
        std::memcpy(bits.data(), &c, sizeof c);
        return bits;
    };
    std::set<std::vector<unsigned>> expected;
    for (const UT_Vector3& c : input)
        expected.insert(bitsOf(c));
    std::set<std::vector<unsigned>> made;
    const int count = node->evalInt("numobj", 0, 0.0);
    for (int i = 1; i <= count; ++i)
        made.insert(bitsOf(colour(i)));
    EXPECT_EQ(count, static_cast<int>(expected.size()));
    EXPECT_EQ(made, expected);
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<int, Sequence>>& p) {
    static const char* const kChannels[] = {"Red", "Green", "Blue"};
    return std::string(kChannels[std::get<0>(p.param)]) + std::get<1>(p.param).label;
}

INSTANTIATE_TEST_SUITE_P(Channels, OneChannelTest,
                         ::testing::Combine(::testing::Values(0, 1, 2),
                                            ::testing::Values(runs(), revisits(), manyKeys())),
                         caseName);

// Colours with a NaN are the same only when identical, so a NaN in any channel keeps apart two
// colours that differ in the sign of a zero elsewhere; without a NaN the two zeros are one
// colour. `channel` holds the NaN; the next channel holds the zeros.
class NanChannelTest : public NodeTest, public ::testing::WithParamInterface<int> {};

TEST_P(NanChannelTest, InitialiseKeepsNanColoursApartAndMergesSignedZeros) {
    const int nan = GetParam();
    const int zero = (nan + 1) % 3;
    std::vector<UT_Vector3> colours;
    for (bool withNan : {true, false}) {
        for (float z : {0.0f, -0.0f, 0.0f}) {
            UT_Vector3 c(0.5f, 0.5f, 0.5f);
            if (withNan)
                c[nan] = std::numeric_limits<float>::quiet_NaN();
            c[zero] = z;
            colours.push_back(c);
        }
    }
    setInput(quadRow(colours));
    cook();
    node->initialiseColours();
    EXPECT_EQ(node->evalInt("numobj", 0, 0.0), 3) << "two NaN colours and one of zeros";
}

INSTANTIATE_TEST_SUITE_P(Channels, NanChannelTest, ::testing::Values(0, 1, 2));

// No colour may be taken for a repeat of the one before the first primitive, whatever its
// bits: all-zero bits (black) are as likely as any.
TEST_F(NodeTest, ABlackFirstPrimitiveIsGroupedAndInitialised) {
    setInput(quadRow({{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}));
    setEntry(1, "black", {0, 0, 0});
    EXPECT_EQ(originalIndices(cook(), "black"), (std::vector<int>{0, 1}));
    node->initialiseColours();
    ASSERT_EQ(node->evalInt("numobj", 0, 0.0), 2);
    EXPECT_EQ(colour(1)[0], 0.0f) << "black sorts first (hue 0, saturation 0)";
    EXPECT_EQ(colour(2)[0], 1.0f);
}

}  // namespace
