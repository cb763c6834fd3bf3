// The edges of what the command line takes, and the legend the picture shows.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_harness.h"

namespace {

using cli_testing::CliTest;
using cli_testing::meshPly;

struct SetCase {
    const char* label;
    std::string assignment;
    int status;
    std::string err;
    std::size_t rows;  // entries in the printed table when taken
};

class SetLimitsTest : public CliTest, public ::testing::WithParamInterface<SetCase> {};

// A count takes a whole number from 0 to 100000 and a toggle 0 or 1: both ends are taken, one
// step past either end is refused with the one-line usage message.
TEST_P(SetLimitsTest, TakesExactlyTheValuesWithinTheLimits) {
    write("mesh.ply", meshPly("ascii"));
    const auto r = run({"cook", "mesh.ply", "--set", GetParam().assignment});
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.err, GetParam().err);
    if (GetParam().status != 0)
        return;
    std::size_t lines = 0;
    for (char c : r.out)
        lines += c == '\n';
    EXPECT_EQ(lines, GetParam().rows + 2) << "heading, one row per entry, hidden";
}

const std::string kCount = ": expected a whole number from 0 to 100000\n";
const std::string kToggle = ": expected 0 or 1\n";

INSTANTIATE_TEST_SUITE_P(
    Limits, SetLimitsTest,
    ::testing::Values(
        SetCase{"CountZero", "numobj=0", 0, "", 0},
        SetCase{"CountLargest", "numobj=100000", 0, "", 100000},
        SetCase{"CountBelowZero", "numobj=-1", 2, "hueslice: --set numobj=-1" + kCount, 0},
        SetCase{"CountPastTheLargest", "numobj=100001", 2, "hueslice: --set numobj=100001" + kCount,
                0},
        SetCase{"ToggleOff", "enable1=0", 0, "", 1}, SetCase{"ToggleOn", "isolate1=1", 0, "", 1},
        SetCase{"ToggleBelowZero", "enable1=-1", 2, "hueslice: --set enable1=-1" + kToggle, 0},
        SetCase{"TogglePastOne", "isolate1=2", 2, "hueslice: --set isolate1=2" + kToggle, 0}),
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
