#include <charconv>

#include "io/formats/obj/lines.h"
#include "io/formats/obj/source.h"
#include "io/internal.h"

namespace hueslice::io::detail {

[[noreturn]] void failAt(const std::string& name, long long line, const std::string& what) {
    throw InputError(name + ":" + std::to_string(line) + ": " + what);
}

// Names end up as C strings in the host and in file names, where a NUL would cut them short
// and merge them with others, so no reader takes one.
void refuseNul(std::string_view text, const std::string& name, long long line, const char* what) {
    if (text.find('\0') != std::string_view::npos)
        failAt(name, line, std::string(what) + " holds a NUL byte");
}

std::string_view restOf(const std::vector<std::string_view>& words) {
    if (words.size() < 2)
        return {};
    const char* begin = words[1].data();
    const char* end = words.back().data() + words.back().size();
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

namespace {

// A word that both number readers take whole and cannot overflow: an optional sign, digits and
// at most one point. Most coordinates look like this, so the full check is rarely needed.
bool isPlainDecimal(std::string_view word) {
    std::size_t i = !word.empty() && (word[0] == '+' || word[0] == '-') ? 1 : 0;
    if (word.size() > 40 || i == word.size())
        return false;
    bool digits = false;
    bool point = false;
    for (; i < word.size(); ++i) {
        const char c = word[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

bool isCoordinate(std::string_view word) {
    return isPlainDecimal(word) || isNumber(word);
}

}  // namespace

bool parseNumber(std::string_view word, double& value) {
    const char* first = word.data();
    const char* last = word.data() + word.size();
    if (first != last && *first == '+')
        ++first;
    const auto r = std::from_chars(first, last, value);
    return r.ec == std::errc() && r.ptr == last;
}

bool isNumber(std::string_view word) {
    double value = 0.0;
    return parseNumber(word, value);
}

bool readPosition(std::string_view rest, float xyz[3]) {
    std::string_view w[3];
    for (std::string_view& word : w) {
        word = nextWord(rest);
        if (!isCoordinate(word))
            return false;
    }
    for (int c = 0; c < 3; ++c)
        xyz[c] = detail::objCoordinate(w[c]);
    return true;
}

bool readPlainFace(std::string_view rest, std::size_t vertices, std::vector<unsigned>& out) {
    const char* p = rest.data();
    const char* const end = p + rest.size();
    const auto blank = [&] { return p == end || *p == ' ' || *p == '\t'; };
    bool any = false;
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p == end)
            return any;
        const char* const first = p;
        unsigned long long index = 0;
        while (p < end && static_cast<unsigned char>(*p - '0') < 10 && p - first < 10) {
            index = index * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        if (index == 0 || index > vertices)
            return false;
        // Texture and normal parts: empty, or digits that are not all zeros.
        for (int part = 1; part < 3 && p < end && *p == '/'; ++part) {
            const char* const digits = ++p;
            bool nonzero = false;
            while (p < end && static_cast<unsigned char>(*p - '0') < 10 && p - digits < 18) {
                nonzero = nonzero || *p != '0';
                ++p;
            }
            if (p != digits && !nonzero)
                return false;
        }
        if (!blank())
            return false;
        out.push_back(static_cast<unsigned>(index - 1));
        any = true;
    }
}

void ChunkParse::clear() {
    xyz.clear();
    positionOk.clear();
    corners.clear();
    faceSizes.clear();
}

std::size_t parseChunk(std::string_view text, std::size_t vertices, ChunkParse& out) {
    out.clear();
    forEachWholeLine(text, [&](std::string_view line) {
        const std::string_view key = nextWord(line);
        if (key == "v") {
            float xyz[3] = {0, 0, 0};
            out.positionOk.push_back(readPosition(line, xyz));
            out.xyz.insert(out.xyz.end(), xyz, xyz + 3);
            ++vertices;
        } else if (key == "f") {
            const std::size_t before = out.corners.size();
            if (readPlainFace(line, vertices, out.corners)) {
                out.faceSizes.push_back(static_cast<unsigned>(out.corners.size() - before));
            } else {
                out.corners.resize(before);
                out.faceSizes.push_back(0);
            }
        }
    });
    return vertices;
}

}  // namespace hueslice::io::detail
