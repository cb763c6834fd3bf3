// The PLY reader on arbitrary bytes. The first byte picks the vertex-colour option (bit 0) and
// the window a file is read through (the other bits); the rest is the file. Read from a file
// through that window, the bytes must give exactly what they give from memory.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <io/formats/ply/ply.h>
#include <io/io.h>

#include "fuzz_targets.h"
#include "geometry_round_trip.h"

namespace hueslice::fuzz {

namespace {

// One scratch file per process, rewritten for every input.
const std::string& scratchPath() {
    static const std::string path = [] {
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder && *folder ? folder : "/tmp") + "/ply_fuzzer-XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0)
            fail("ply_fuzzer", "cannot make a scratch file");
        ::close(fd);
        return name;
    }();
    return path;
}

void writeScratch(std::string_view bytes) {
    const int fd = ::open(scratchPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    std::size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (fd >= 0)
        ::close(fd);
    check(done == bytes.size(), "ply_fuzzer", "cannot write the scratch file");
}

}  // namespace

void checkWindowedRead(std::string_view bytes, std::size_t window, const io::PlyOptions& options) {
    writeScratch(bytes);
    const std::string& path = scratchPath();
    const std::string whole =
        outcomeOf([&](GU_Detail& out) { return io::readPly(bytes, path, out, options); });
    const std::string windowed = outcomeOf([&](GU_Detail& out) {
        return io::detail::readPlyFileThroughWindow(path, window, out, options, nullptr);
    });
    check(whole == windowed, "ply_fuzzer",
          "read through a window of " + std::to_string(window) + " bytes, the file gives " +
              windowed.substr(0, 200) + " where its bytes give " + whole.substr(0, 200));
}

int fuzzPly(const std::uint8_t* data, std::size_t size) {
    constexpr const char* kTarget = "ply_fuzzer";
    if (size == 0)
        return 0;
    io::PlyOptions options;
    options.vertexColours = (data[0] & 1) != 0;
    checkWindowedRead(asText(data + 1, size - 1), 1 + (data[0] >> 1), options);
    GU_Detail out = sentinelDetail();
    try {
        io::readPly(asText(data + 1, size - 1), "fuzz.ply", out, options);
    } catch (const io::InputError&) {
        checkUntouched(kTarget, out);
        return 0;
    }
    checkGroupsInRange(kTarget, out);
    checkJsonRoundTrip(kTarget, out);
    return 0;
}

}  // namespace hueslice::fuzz

HUESLICE_FUZZ_ENTRY(hueslice::fuzz::fuzzPly)
