#include "io/formats/ply/rows.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/internal.h"

namespace hueslice::io::detail::ply {

namespace {

// The text rows of one file: a row a line, its values as words.
class AsciiRows : public RowReader {
  public:
    AsciiRows(std::string_view input, const std::string& fileName, const Header& fileHeader,
              const ColourPlan& colourPlan)
        : RowReader(fileName, fileHeader, colourPlan), bytes(input) {}

    // Reads the whole body into `geo`; returns the ties of the corner vote.
    long long read(GU_Detail& geo) {
        startDetail(geo, header.face ? static_cast<std::size_t>(header.face->count) * 3 : 0);
        readAscii(geo);
        return finishVotes(geo);
    }

  private:
    [[noreturn]] void failLine(long long line, const std::string& what) const {
        ply::failLine(name, line, what);
    }
    bool nextLine(std::size_t& pos, std::string_view& line) const {
        return ply::nextLine(bytes, pos, line);
    }

    template <typename Fail>
    double parseToken(std::string_view token, Scalar type, Fail&& failHere) const {
        const char* first = token.data();
        const char* last = token.data() + token.size();
        if (first != last && *first == '+')
            ++first;
        if (isInteger(type)) {
            long long value = 0;
            const auto r = std::from_chars(first, last, value);
            if (r.ec == std::errc::result_out_of_range) {
                failHere("value '" + shown(token) + "' is out of range");
            }
            if (r.ec != std::errc() || r.ptr != last) {
                failHere("value '" + shown(token) + "' is not an integer");
            }
            const auto asDouble = static_cast<double>(value);
            if (asDouble < minOf(type) || asDouble > maxOf(type)) {
                failHere("value '" + shown(token) + "' is out of range for its type");
            }
            return asDouble;
        }
        double value = 0.0;
        const auto r = std::from_chars(first, last, value);
        if (r.ec == std::errc::result_out_of_range) {
            failHere("value '" + shown(token) + "' is out of range");
        }
        if (r.ec != std::errc() || r.ptr != last) {
            failHere("value '" + shown(token) + "' is not a number");
        }
        return value;
    }

    void readAscii(GU_Detail& geo) {
        std::size_t pos = header.dataStart;
        long long lineNo = header.dataLine - 1;
        std::string_view line;
        std::vector<std::string_view> tokens;
        Row row;
        // Reads the next non-blank line into `tokens`; false at the end of the file.
        const auto nextRow = [&]() {
            while (nextLine(pos, line)) {
                ++lineNo;
                detail::splitWords(line, tokens);
                if (!tokens.empty())
                    return true;
            }
            return false;
        };
        for (const Element& e : header.elements) {
            for (std::uint64_t r = 0; r < e.count; ++r) {
                if (!nextRow())
                    failLine(std::max(lineNo, 1LL), "file ends before " + e.row(r));
                const auto failHere = [&](const std::string& what) {
                    failLine(lineNo, e.row(r) + " " + what);
                };
                row.indices.clear();
                std::size_t t = 0;
                const auto next = [&]() {
                    if (t >= tokens.size())
                        failHere("has too few values");
                    return tokens[t++];
                };
                for (const Property& p : e.properties) {
                    if (!p.isList) {
                        take(p, parseToken(next(), p.type, failHere), row, failHere);
                        continue;
                    }
                    const double count = parseToken(next(), p.countType, failHere);
                    if (count < 0.0)
                        failHere("has a negative list count");
                    if (count > static_cast<double>(tokens.size() - t)) {
                        failHere("has too few values");
                    }
                    const auto n = static_cast<std::size_t>(count);
                    for (std::size_t i = 0; i < n; ++i) {
                        take(p, parseToken(next(), p.type, failHere), row, failHere);
                    }
                }
                if (t != tokens.size())
                    failHere("has too many values");
                settle(e, row, failHere);
                store(e, row, geo);
            }
        }
        if (nextRow())
            failLine(lineNo, "data after the last element");
    }

    std::string_view bytes;  // all of the input
};

}  // namespace

long long readAsciiRows(std::string_view bytes, const std::string& name, const Header& header,
                        const ColourPlan& colours, GU_Detail& geo) {
    return AsciiRows(bytes, name, header, colours).read(geo);
}

}  // namespace hueslice::io::detail::ply
