#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "colour/palette_list.h"

namespace hueslice::colour {
namespace {

struct ListCase {
    const char* text;
    bool file;
    std::vector<std::string> colours;  // hex and name, "#rrggbb name"; empty when refused
    const char* fault;                 // the message when refused
};

std::vector<std::string> described(const std::vector<PaletteColour>& palette) {
    std::vector<std::string> out;
    for (const PaletteColour& c : palette)
        out.push_back(hexText(c.rgb) + (c.name.empty() ? "" : " " + c.name));
    return out;
}

TEST(PaletteList, ListsAndFiles) {
    const ListCase cases[] = {
        {"#D32F2F, #1976d2 ,White", false, {"#d32f2f", "#1976d2", "#ffffff White"}, ""},
        {"rebeccapurple", false, {"#663399 rebeccapurple"}, ""},
        {"", false, {}, "no colours given"},
        {"red,,blue", false, {}, "an empty item in the colour list"},
        {"red,", false, {}, "an empty item in the colour list"},
        {"#12345", false, {}, "malformed colour '#12345' (expected #rrggbb)"},
        {"#1234567", false, {}, "malformed colour '#1234567' (expected #rrggbb)"},
        {"#12345g", false, {}, "malformed colour '#12345g' (expected #rrggbb)"},
        {"whit", false, {}, "unknown colour 'whit' (expected #rrggbb or a CSS colour name)"},
        {"white,#FFFFFF", false, {}, "'#FFFFFF' is the same colour as 'white' (#ffffff)"},
        {"aqua,cyan", false, {}, "'cyan' is the same colour as 'aqua' (#00ffff)"},
        {"#f5f5f5 PLA White\n\n  \r\nnavy\n#ff0000   Red  Two \n",
         true,
         {"#f5f5f5 PLA White", "#000080 navy", "#ff0000 Red  Two"},
         ""},
        {"\n\n", true, {}, "p.txt: holds no colours"},
        {"", true, {}, "p.txt: holds no colours"},
        {"red\nblu X\n",
         true,
         {},
         "p.txt:2: unknown colour 'blu' (expected #rrggbb or a CSS colour name)"},
        {"red A\n\n#ff0000 B\n",
         true,
         {},
         "p.txt:3: '#ff0000' is the same colour as 'red' on line 1 (#ff0000)"},
        {"#ff00 Spare\n", true, {}, "p.txt:1: malformed colour '#ff00' (expected #rrggbb)"},
    };
    for (const ListCase& c : cases) {
        try {
            const std::vector<PaletteColour> palette =
                c.file ? parsePaletteFile(c.text, "p.txt") : parsePaletteList(c.text);
            EXPECT_EQ(described(palette), c.colours) << c.text;
            EXPECT_STREQ(c.fault, "") << c.text;
        } catch (const PaletteError& e) {
            EXPECT_EQ(std::string(e.what()), c.fault) << c.text;
            EXPECT_TRUE(c.colours.empty()) << c.text;
        }
    }
}

TEST(PaletteList, FilesAreTextsWithASlashOrADot) {
    for (const char* text : {"p.txt", "./p", "dir/p", "."})
        EXPECT_TRUE(namesPaletteFile(text)) << text;
    for (const char* text : {"red,blue", "#ff0000", "palette"})
        EXPECT_FALSE(namesPaletteFile(text)) << text;
}

TEST(PaletteList, AtMost256Colours) {
    std::string list, text;
    for (int i = 0; i <= 256; ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "#%06x", i);
        list += (i ? "," : "") + std::string(hex);
        text += std::string(hex) + "\n";
        if (i == 255) {
            EXPECT_EQ(parsePaletteList(list).size(), 256u);
        }
    }
    EXPECT_THROW(parsePaletteList(list), PaletteError);
    EXPECT_THROW(parsePaletteFile(text, "p.txt"), PaletteError);
}

}  // namespace
}  // namespace hueslice::colour
