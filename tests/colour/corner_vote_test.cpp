#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "colour/corner_vote.h"

namespace hueslice::colour {
namespace {

// Palette of the vote tables: each letter is one colour, '.' a corner without a colour.
const float kPalette[][3] = {
    {1, 0, 0},  // A
    {0, 1, 0},  // B
    {0, 0, 1},  // C
    {1, 1, 0},  // D
};

// One vertex per corner, coloured by the letters of `corners`.
struct Face {
    std::vector<float> rgb;
    std::vector<unsigned char> coloured;
    std::vector<unsigned> corners;
};

Face faceOf(const std::string& letters) {
    Face face;
    for (char letter : letters) {
        face.corners.push_back(static_cast<unsigned>(face.corners.size()));
        face.coloured.push_back(letter != '.');
        const float* c = kPalette[letter == '.' ? 0 : letter - 'A'];
        face.rgb.insert(face.rgb.end(), c, c + 3);
    }
    return face;
}

struct VoteCase {
    const char* label;
    std::string corners;
    long long winner;
    bool tie;
};

class CornerVote : public ::testing::TestWithParam<VoteCase> {};

TEST_P(CornerVote, MajorityWinsAndTiesGoToTheEarliestCorner) {
    const Face face = faceOf(GetParam().corners);
    CornerVoter voter;
    const VoteResult result =
        voter.vote(face.rgb.data(), face.corners.data(), face.corners.size(), face.coloured.data());
    EXPECT_EQ(result.winner, GetParam().winner);
    EXPECT_EQ(result.tie, GetParam().tie);
}

std::string repeated(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Faces, CornerVote,
    ::testing::Values(VoteCase{"triangle_one_colour", "AAA", 0, false},
                      VoteCase{"triangle_minority_first", "BAA", 1, false},
                      VoteCase{"triangle_minority_last", "AAB", 0, false},
                      VoteCase{"triangle_minority_middle", "ABA", 0, false},
                      VoteCase{"triangle_all_different", "CBA", 0, true},
                      VoteCase{"quad_three_to_one", "BAAA", 1, false},
                      VoteCase{"quad_two_two_first_colour_wins", "BAAB", 0, true},
                      VoteCase{"quad_two_two_interleaved", "ABAB", 0, true},
                      VoteCase{"quad_two_one_one", "BCAA", 2, false},
                      VoteCase{"quad_one_each", "DCBA", 0, true},
                      VoteCase{"pentagon_two_two_one", "CABAB", 1, true},
                      VoteCase{"hexagon_late_majority", "ABCDDD", 3, false},
                      VoteCase{"uncoloured_corners_do_not_vote", "..BA", 2, true},
                      VoteCase{"uncoloured_first_corner", ".BB", 1, false},
                      VoteCase{"no_coloured_corner", "...", -1, false},
                      VoteCase{"single_corner", "C", 0, false},
                      VoteCase{"no_corners", "", -1, false},
                      VoteCase{"alike_but_one_uncoloured", "A.AA", 0, false},
                      VoteCase{"sixteen_corners_small_path", repeated("AB", 7) + "BC", 1, false},
                      VoteCase{"seventeen_corners_sorted_path", "C" + repeated("AB", 8), 1, true},
                      VoteCase{"large_late_majority", repeated("ABCD", 10) + "DD", 3, false},
                      VoteCase{"large_uncoloured_majority", repeated(".", 30) + "BA", 30, true}),
    [](const auto& param) { return std::string(param.param.label); });

TEST(CornerVoteColours, SignedZerosAgreeAndNanMatchesOnlyItsOwnBits) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float otherNan = -nan;
    const float rgb[] = {0.0f, 1, 1, -0.0f, 1, 1, nan, 0, 0, nan, 0, 0, otherNan, 0, 0};
    CornerVoter voter;
    // +0 and -0 are one colour: two votes beat one.
    const unsigned zeros[] = {2, 0, 1};
    EXPECT_EQ(voter.vote(rgb, zeros, 3).winner, 1);
    // Two NaNs with the same bits agree; a NaN of other bits is a colour of its own.
    const unsigned nans[] = {4, 2, 3};
    const VoteResult result = voter.vote(rgb, nans, 3);
    EXPECT_EQ(result.winner, 1);
    EXPECT_FALSE(result.tie);
}

// The obvious count over every pair of corners, for comparison with the voter's two paths.
VoteResult referenceVote(const Face& face) {
    const auto same = [&](std::size_t a, std::size_t b) {
        return std::memcmp(&face.rgb[3 * a], &face.rgb[3 * b], 3 * sizeof(float)) == 0;
    };
    VoteResult best;
    std::size_t bestVotes = 0;
    for (std::size_t i = 0; i < face.corners.size(); ++i) {
        if (!face.coloured[i])
            continue;
        std::size_t votes = 0;
        for (std::size_t j = 0; j < face.corners.size(); ++j)
            votes += face.coloured[j] && same(i, j);
        bool earlier = false;
        for (std::size_t j = 0; j < i; ++j)
            earlier = earlier || (face.coloured[j] && same(i, j));
        if (earlier)
            continue;
        if (votes > bestVotes) {
            bestVotes = votes;
            best = VoteResult{static_cast<long long>(i), false};
        } else if (votes == bestVotes) {
            best.tie = true;
        }
    }
    return best;
}

TEST(CornerVoteColours, RandomFacesOfEverySizeAgreeWithACountOverAllPairs) {
    std::mt19937 random(7);
    CornerVoter voter;  // one voter for every face, as a reader uses it
    for (int trial = 0; trial < 3000; ++trial) {
        const std::size_t size = 1 + random() % 40;
        const int colours = 1 + static_cast<int>(random() % 4);
        std::string letters;
        for (std::size_t i = 0; i < size; ++i) {
            const int pick = static_cast<int>(random() % (colours + 1));
            letters += pick == colours ? '.' : static_cast<char>('A' + pick);
        }
        Face face = faceOf(letters);
        // Corners referring to shared vertices, in shuffled order.
        std::vector<unsigned> order(size);
        std::iota(order.begin(), order.end(), 0u);
        std::shuffle(order.begin(), order.end(), random);
        Face shuffled = face;
        for (std::size_t i = 0; i < size; ++i) {
            shuffled.corners[i] = order[i];
            shuffled.coloured[i] = face.coloured[order[i]];
            std::memcpy(&shuffled.rgb[3 * i], &face.rgb[3 * order[i]], 3 * sizeof(float));
        }
        const VoteResult expected = referenceVote(shuffled);
        const VoteResult got =
            voter.vote(face.rgb.data(), shuffled.corners.data(), size, face.coloured.data());
        ASSERT_EQ(got.winner, expected.winner) << letters << " trial " << trial;
        ASSERT_EQ(got.tie, expected.tie) << letters << " trial " << trial;
    }
}

}  // namespace
}  // namespace hueslice::colour
