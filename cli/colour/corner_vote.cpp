#include "colour/corner_vote.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace hueslice::colour {

namespace {

// Faces up to this size are counted pairwise on the stack: cheaper than sorting for the
// triangles and quads that make up almost every mesh.
constexpr std::size_t kSmallFace = 16;

// A colour as words that are equal exactly when the colours are the same.
template <int Words>
struct Key {
    std::uint32_t word[Words];

    bool operator==(const Key& other) const {
        for (int i = 0; i < Words; ++i) {
            if (word[i] != other.word[i])
                return false;
        }
        return true;
    }
    bool operator<(const Key& other) const {
        return std::lexicographical_compare(word, word + Words, other.word, other.word + Words);
    }
};

// The bits of a float colour with -0 folded into +0.
inline Key<3> keyOf(const float* rgb, unsigned vertex) {
    Key<3> key;
    for (int c = 0; c < 3; ++c) {
        float f = rgb[3 * static_cast<std::size_t>(vertex) + c];
        if (f == 0.0f)
            f = 0.0f;
        std::memcpy(&key.word[c], &f, sizeof f);
    }
    return key;
}

inline Key<1> keyOf(const std::uint32_t* keys, unsigned vertex) {
    return Key<1>{{keys[vertex]}};
}

inline bool hasColour(const unsigned char* coloured, unsigned vertex) {
    return coloured == nullptr || coloured[vertex] != 0;
}

// Colours are taken in the order of their first corner, and a later colour must have strictly
// more corners to win: that is what gives a tie to the earliest corner.
template <typename Colours>
VoteResult voteSmall(Colours colours, const unsigned* corners, std::size_t count,
                     const unsigned char* coloured) {
    using K = decltype(keyOf(colours, 0));
    K keys[kSmallFace];
    bool voting[kSmallFace];
    for (std::size_t i = 0; i < count; ++i) {
        voting[i] = hasColour(coloured, corners[i]);
        if (voting[i])
            keys[i] = keyOf(colours, corners[i]);
    }
    // Most faces lie inside one colour region, and all corners alike settle the vote at once.
    bool alike = count > 0 && voting[0];
    for (std::size_t i = 1; i < count; ++i)
        alike = alike && voting[i] && keys[i] == keys[0];
    if (alike)
        return VoteResult{0, false};

    VoteResult result;
    std::size_t best = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!voting[i])
            continue;
        bool seen = false;
        for (std::size_t j = 0; j < i && !seen; ++j)
            seen = voting[j] && keys[j] == keys[i];
        if (seen)
            continue;
        std::size_t votes = 1;
        for (std::size_t j = i + 1; j < count; ++j)
            votes += voting[j] && keys[j] == keys[i];
        if (votes > best) {
            best = votes;
            result.winner = static_cast<long long>(i);
            result.tie = false;
        } else if (votes == best) {
            result.tie = true;
        }
    }
    return result;
}

// Sorted by colour and then by position, each colour is one run whose first ballot is the
// colour's earliest corner.
template <typename Colours, typename Ballot>
VoteResult voteLarge(Colours colours, const unsigned* corners, std::size_t count,
                     const unsigned char* coloured, std::vector<Ballot>& ballots) {
    ballots.clear();
    for (std::size_t i = 0; i < count; ++i) {
        if (hasColour(coloured, corners[i]))
            ballots.push_back(Ballot{keyOf(colours, corners[i]), static_cast<std::uint32_t>(i)});
    }
    std::sort(ballots.begin(), ballots.end(), [](const Ballot& a, const Ballot& b) {
        return a.key < b.key || (a.key == b.key && a.corner < b.corner);
    });
    VoteResult result;
    std::size_t best = 0;
    for (std::size_t start = 0; start < ballots.size();) {
        std::size_t end = start + 1;
        while (end < ballots.size() && ballots[end].key == ballots[start].key)
            ++end;
        const std::size_t votes = end - start;
        const long long first = ballots[start].corner;
        if (votes > best || (votes == best && first < result.winner)) {
            result.tie = votes == best;
            best = votes;
            result.winner = first;
        } else if (votes == best) {
            result.tie = true;
        }
        start = end;
    }
    return result;
}

template <int Words>
struct BallotOf {
    Key<Words> key;
    std::uint32_t corner;
};

}  // namespace

struct CornerVoter::Scratch {
    std::vector<BallotOf<3>> rgb;
    std::vector<BallotOf<1>> packed;
};

CornerVoter::CornerVoter() : scratch(std::make_unique<Scratch>()) {}
CornerVoter::~CornerVoter() = default;

VoteResult CornerVoter::vote(const float* rgb, const unsigned* corners, std::size_t count,
                             const unsigned char* coloured) {
    if (count <= kSmallFace)
        return voteSmall(rgb, corners, count, coloured);
    return voteLarge(rgb, corners, count, coloured, scratch->rgb);
}

VoteResult CornerVoter::vote(const std::uint32_t* keys, const unsigned* corners, std::size_t count,
                             const unsigned char* coloured) {
    if (count <= kSmallFace)
        return voteSmall(keys, corners, count, coloured);
    return voteLarge(keys, corners, count, coloured, scratch->packed);
}

}  // namespace hueslice::colour
