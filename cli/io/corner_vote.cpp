#include "io/corner_vote.h"

#include <algorithm>
#include <cstring>

namespace hueslice::io {

namespace {

// Faces up to this size are counted pairwise on the stack: cheaper than sorting for the
// triangles and quads that make up almost every mesh.
constexpr std::size_t kSmallFace = 16;

// The bits of a colour with -0 folded into +0, so that equal keys mean the same colour.
inline void keyOf(const float* colour, std::uint32_t key[3]) {
    for (int c = 0; c < 3; ++c) {
        float f = colour[c];
        if (f == 0.0f)
            f = 0.0f;
        std::memcpy(&key[c], &f, sizeof f);
    }
}

inline bool sameKey(const std::uint32_t a[3], const std::uint32_t b[3]) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

inline bool hasColour(const unsigned char* coloured, unsigned vertex) {
    return coloured == nullptr || coloured[vertex] != 0;
}

// Colours are taken in the order of their first corner, and a later colour must have strictly
// more corners to win: that is what gives a tie to the earliest corner.
VoteResult voteSmall(const float* rgb, const unsigned* corners, std::size_t count,
                     const unsigned char* coloured) {
    std::uint32_t keys[kSmallFace][3];
    bool voting[kSmallFace];
    for (std::size_t i = 0; i < count; ++i) {
        voting[i] = hasColour(coloured, corners[i]);
        if (voting[i])
            keyOf(rgb + 3 * static_cast<std::size_t>(corners[i]), keys[i]);
    }
    VoteResult result;
    std::size_t best = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!voting[i])
            continue;
        bool seen = false;
        for (std::size_t j = 0; j < i && !seen; ++j)
            seen = voting[j] && sameKey(keys[j], keys[i]);
        if (seen)
            continue;
        std::size_t votes = 1;
        for (std::size_t j = i + 1; j < count; ++j)
            votes += voting[j] && sameKey(keys[j], keys[i]);
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

}  // namespace

VoteResult CornerVoter::vote(const float* rgb, const unsigned* corners, std::size_t count,
                             const unsigned char* coloured) {
    if (count <= kSmallFace)
        return voteSmall(rgb, corners, count, coloured);

    // Sorted by colour and then by position, each colour is one run whose first ballot is the
    // colour's earliest corner.
    ballots.clear();
    for (std::size_t i = 0; i < count; ++i) {
        if (!hasColour(coloured, corners[i]))
            continue;
        Ballot ballot;
        keyOf(rgb + 3 * static_cast<std::size_t>(corners[i]), ballot.key);
        ballot.corner = static_cast<std::uint32_t>(i);
        ballots.push_back(ballot);
    }
    std::sort(ballots.begin(), ballots.end(), [](const Ballot& a, const Ballot& b) {
        return std::lexicographical_compare(a.key, a.key + 3, b.key, b.key + 3) ||
               (sameKey(a.key, b.key) && a.corner < b.corner);
    });
    VoteResult result;
    std::size_t best = 0;
    for (std::size_t start = 0; start < ballots.size();) {
        std::size_t end = start + 1;
        while (end < ballots.size() && sameKey(ballots[end].key, ballots[start].key))
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

}  // namespace hueslice::io
