#pragma once

// The palette step: before the node cooks, every face colour of the input is replaced by the
// nearest colour of a printable palette, chosen from the faces (--colours N or auto) or given
// by the user (--palette). "Initialise" then finds one entry per palette colour, and named
// palette colours name their groups.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <GU_Detail.h>
#include <SOP_Node.h>
#include <colour/reduction.h>
#include <io/io.h>

namespace hueslice::cli {

// The palette the command line asks for: nothing when both texts are empty. `colours` is a
// whole number from 1 to 256 or "auto"; `palette` a palette file (when it holds a '/' or a
// '.') or a comma-separated list of #rrggbb and CSS colour names. Throws UsageError, one line,
// for a count out of range or not a number, both options at once, and any fault of the
// palette or its file (unreadable, empty, a malformed or unknown colour, a duplicate).
std::optional<colour::ReductionRequest> paletteRequest(const std::string& colours,
                                                       const std::string& palette);

// Replaces the colour of every face of `detail` (the colour attribute of its current layer)
// by its palette colour, each face weighted by its area. Adds to `notes` a line for each
// palette colour no face takes and for faces that keep their colour. Without a colour
// attribute nothing changes and the result holds no colours.
colour::Reduction applyPalette(GU_Detail& detail, const colour::ReductionRequest& request,
                               io::Notes& notes);

// What a texture's texels become when a palette is in use: each texel's colour is replaced by
// the palette colour nearest to it by CIEDE2000, so that a face votes among palette colours.
std::function<void(std::vector<std::uint8_t>&)> texelSnapper(
    const std::vector<colour::PaletteColour>& colours);

// Reads `input` into `detail` (empty) and reduces its face colours as applyPalette does, with
// every texture's texels snapped to the palette first (see texelSnapper). A palette chosen from
// the faces is known only after a reading, so when textures coloured faces the input is read a
// second time, its texels snapped to the colours chosen the first time. Returns the reading's
// notes and the palette's; `source` and `reduction` receive the final reading's.
io::Notes readWithPalette(const std::string& input, GU_Detail& detail, io::ReadOptions options,
                          const colour::ReductionRequest& request, io::ColourSource& source,
                          colour::Reduction& reduction);

// The palette report: a line per palette colour (hex, name, faces, share of the area, mean and
// worst CIEDE2000 of the faces that took it), then the face that moved farthest.
std::string formatPaletteReport(const colour::Reduction& reduction);

// Renames the group of each of the node's entries whose colour is a named palette colour to
// that name, made a valid group name (letters, digits and '_') and unique among the entries'
// group names. Entries of other colours keep theirs.
void namePaletteGroups(SOP_Node& node, const colour::Reduction& reduction);

// `name` as a group name: every byte other than an ASCII letter, digit or '_' becomes '_',
// runs of '_' become one, none is left at either end, and a leading digit gets a '_' before
// it. Empty when nothing is left.
std::string validGroupName(const std::string& name);

}  // namespace hueslice::cli
