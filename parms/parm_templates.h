#pragma once

#include <PRM.h>

namespace hueslice {

// Parameter tokens. Entry parameters are patterns whose "%d" is the 1-based entry index.
constexpr const char* kInitialiseToken = "init";
constexpr const char* kSortToken = "sort";
constexpr const char* kNumEntriesToken = "numobj";
constexpr const char* kEnablePattern = "enable%d";
constexpr const char* kIsolatePattern = "isolate%d";
constexpr const char* kColourPattern = "col%d";
constexpr const char* kGroupPattern = "group%d";

// Name records, in order: init, sort, numobj, enable, colour, group, isolate, and an empty
// record that ends the array.
extern PRM_Name parmNames[8];
// The menu of the "Group" field, filled by buildGroupMenu.
extern PRM_ChoiceList groupMenu;
// One entry of the list, in dialog order: enable, isolate, colour, group; then the list end.
extern PRM_Template entryTemplates[5];
// The operator's parameters in dialog order: the two buttons, the entry list; then the list end.
extern PRM_Template parmTemplates[4];

// Fills the group menu with the primitive group names of the node's input. Without a node, or
// with one that is no geometry node, the menu is made empty (null token and label on its first
// record). The spare data is not used.
void buildGroupMenu(void* data, PRM_Name* menu, int size, const PRM_SpareData* spare,
                    PRM_Parm* parm);

}  // namespace hueslice
