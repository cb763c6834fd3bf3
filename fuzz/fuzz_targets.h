#pragma once

// The entry of each fuzz target. In a fuzzer build each file also defines
// LLVMFuzzerTestOneInput as a call to its entry; the replay test calls the entries directly.

#include <cstddef>
#include <cstdint>

namespace hueslice::fuzz {

int fuzzPly(const std::uint8_t* data, std::size_t size);
int fuzzJsonGeometry(const std::uint8_t* data, std::size_t size);
int fuzzScene(const std::uint8_t* data, std::size_t size);
int fuzzObj(const std::uint8_t* data, std::size_t size);
int fuzzNode(const std::uint8_t* data, std::size_t size);
int fuzzGltf(const std::uint8_t* data, std::size_t size);
int fuzzThreeMf(const std::uint8_t* data, std::size_t size);
int fuzzImage(const std::uint8_t* data, std::size_t size);
int fuzzPalette(const std::uint8_t* data, std::size_t size);

}  // namespace hueslice::fuzz

#ifdef HUESLICE_FUZZ_REPLAY
#define HUESLICE_FUZZ_ENTRY(function)
#else
#define HUESLICE_FUZZ_ENTRY(function)                                                   \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        return function(data, size);                                                    \
    }
#endif
