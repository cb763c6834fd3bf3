// The edges of what the command line takes, and the legend the picture shows.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_harness.h"

namespace {

using cli_testing::CliTest;
using cli_testing::meshPly;

struct CountCase {
    const char* label;
    const char* count;
    int status;
    std::string err;
};

class SetCountTest : public CliTest, public ::testing::WithParamInterface<CountCase> {};

// "numobj" takes a whole number from 0 to 100000: both ends are taken (the table then has that
// many rows), one step past either end is refused with the one-line usage message.
TEST_P(SetCountTest, TakesExactlyTheCountsWithinTheLimits) {
    write("mesh.ply", meshPly("ascii"));
    const auto r = run({"cook", "mesh.ply", "--set", std::string("numobj=") + GetParam().count});
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.err, GetParam().err);
    if (GetParam().status != 0)
        return;
    std::size_t lines = 0;
    for (char c : r.out)
        lines += c == '\n';
    EXPECT_EQ(lines, std::stoul(GetParam().count) + 2) << "heading, one row per entry, hidden";
}

const std::string kRefused = ": expected a whole number from 0 to 100000\n";

INSTANTIATE_TEST_SUITE_P(
    Limits, SetCountTest,
    ::testing::Values(CountCase{"Zero", "0", 0, ""}, CountCase{"Largest", "100000", 0, ""},
                      CountCase{"BelowZero", "-1", 2, "hueslice: --set numobj=-1" + kRefused},
                      CountCase{"PastTheLargest", "100001", 2,
                                "hueslice: --set numobj=100001" + kRefused}),
    [](const auto& p) { return std::string(p.param.label); });

// The texts and the swatch colours of the legend, in order.
std::vector<std::string> legendTexts(const std::string& svg) {
    std::vector<std::string> texts;
    for (auto at = svg.find("<text"); at != std::string::npos; at = svg.find("<text", at + 1)) {
        const auto open = svg.find('>', at) + 1;
        texts.push_back(svg.substr(open, svg.find("</text>", open) - open));
    }
    return texts;
}

std::vector<std::string> legendSwatches(const std::string& svg) {
    std::vector<std::string> fills;
    const std::string marker = "width=\"16\" height=\"16\" stroke=\"black\" fill=\"";
    for (auto at = svg.find(marker); at != std::string::npos; at = svg.find(marker, at + 1)) {
        const auto start = at + marker.size();
        fills.push_back(svg.substr(start, svg.find('"', start) - start));
    }
    return fills;
}

// Entries that share a name share a group, and the legend shows that group once, with the
// colour of its first entry and the members of all; a group that caught nothing still shows,
// a disabled entry does not.
TEST_F(CliTest, LegendShowsEachSharedGroupOnce) {
    write("mesh.ply", meshPly("ascii"));  // red, green, red, blue
    const auto r = run({"cook",  "mesh.ply",    "--set", "numobj=5",    "--set", "group1=warm",
                        "--set", "col1=1,0,0",  "--set", "group2=cold", "--set", "col2=0,0,1",
                        "--set", "group3=warm", "--set", "col3=0,1,0",  "--set", "group4=empty",
                        "--set", "col4=1,1,0",  "--set", "group5=off",  "--set", "enable5=0",
                        "--svg", "out.svg"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = read("out.svg");
    EXPECT_EQ(legendTexts(svg), (std::vector<std::string>{"warm (3)", "cold (1)", "empty (0)"}));
    EXPECT_EQ(legendSwatches(svg),
              (std::vector<std::string>{"rgb(255,0,0)", "rgb(0,0,255)", "rgb(255,255,0)"}));
}

}  // namespace
