#pragma once

// One file per group: a split folder that a slicer takes as the parts of one print.

#include <string>
#include <vector>

#include "GU_Detail.h"
#include "io/io.h"

namespace hueslice::io {

class OutputBatch;

// Stages `folder`/<part>.<format> for every part into `batch`: a group's file holds its faces,
// `ungrouped` the visible faces in no group. Names that are not safe as file names are made
// safe and unique, and each change is a note. Creates `folder` when missing. The formats a folder
// can hold are the split formats of formats/formats.h. Throws OutputError for another format or a
// folder that cannot be made.
Notes stageSplit(OutputBatch& batch, const std::string& folder, const std::string& format,
                 const GU_Detail& detail, const std::vector<LegendEntry>& legend);

// Makes `folder` when missing and says whether it made it. Throws OutputError when the path is
// something other than a folder or the folder cannot be made.
bool makeSplitFolder(const std::string& folder);

// The name `groupName` gets as a file name: bytes that are not safe on common file systems
// become '_', and names a file system reserves are changed. Not yet unique.
std::string safeFileName(const std::string& groupName);

}  // namespace hueslice::io
