#pragma once

// The colour a face takes from the colours of its corners, for every reader that turns vertex
// colours into face colours: the colour most of the face's corners share, a tie going to the
// earliest corner that holds one of the tied colours.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace hueslice::colour {

struct VoteResult {
    // Position in the face (0 for its first corner) of the corner whose colour wins, or -1 when
    // no corner has a colour.
    long long winner = -1;
    // Another colour had as many corners as the winner's.
    bool tie = false;
};

// Holds scratch storage between votes, so that one voter used for a whole file allocates only
// when a face has more corners than any face before it, and never per face.
class CornerVoter {
  public:
    CornerVoter();
    ~CornerVoter();
    CornerVoter(const CornerVoter&) = delete;
    CornerVoter& operator=(const CornerVoter&) = delete;

    // Votes on the face whose corners are the vertices corners[0 .. count). `rgb` holds three
    // floats per vertex. When `coloured` is not null, a vertex v for which coloured[v] is 0 has
    // no colour and does not vote; null means every vertex has one. Two colours are the same
    // when each pair of components is equal, a NaN matching only a NaN of the same bits (so
    // -0 and +0 agree). Every index in `corners` must be a valid vertex. Takes time linear in
    // `count` for faces of up to 16 corners and count log count beyond.
    VoteResult vote(const float* rgb, const unsigned* corners, std::size_t count,
                    const unsigned char* coloured = nullptr);

    // The same vote with each vertex's colour given as one 32-bit key, such as three 8-bit
    // components packed together: two colours are the same when their keys are equal.
    VoteResult vote(const std::uint32_t* keys, const unsigned* corners, std::size_t count,
                    const unsigned char* coloured = nullptr);

  private:
    struct Scratch;
    std::unique_ptr<Scratch> scratch;
};

}  // namespace hueslice::colour
