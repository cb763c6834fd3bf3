#pragma once

// The palette step: before the node cooks, every face colour of the input is replaced by the
// nearest colour of a printable palette, chosen from the faces (--colours N or auto) or given
// by the user (--palette). "Initialise" then finds one entry per palette colour, and named
// palette colours name their groups.

#include <optional>
#include <string>

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
