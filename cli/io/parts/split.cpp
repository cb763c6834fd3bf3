#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "io/commit/output_batch.h"
#include "io/formats/formats.h"
#include "io/internal.h"
#include "io/parts/parts.h"
#include "io/parts/split.h"

namespace hueslice::io {

namespace {

constexpr const char* kUngrouped = "ungrouped";
constexpr std::size_t kMaxNameBytes = 200;

// Device names are reserved whatever extension follows them: `aux.txt` is the device too.
bool reservedOnSomeSystem(const std::string& stem) {
    std::string upper;
    for (char c : stem.substr(0, stem.find('.')))
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL")
        return true;
    return upper.size() == 4 &&
           (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

std::string lowered(const std::string& s) {
    std::string out;
    for (char c : s)
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool makeSplitFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0777) == 0)
        return true;
    if (errno == EEXIST) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            return false;
        throw OutputError(folder + ": cannot write files here: it is not a folder");
    }
    throw OutputError(folder + ": cannot make folder: " + std::strerror(errno));
}

std::string safeFileName(const std::string& groupName) {
    std::string safe;
    for (char c : groupName) {
        const auto u = static_cast<unsigned char>(c);
        const bool unsafe = u < 0x20 || u == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
        safe += unsafe ? '_' : c;
    }
    // Leading dots hide a file; leading blanks are lost by readers of names in text (an OBJ's
    // `mtllib` line); trailing dots and spaces vanish on some systems.
    if (!safe.empty() && (safe[0] == '.' || safe[0] == ' '))
        safe[0] = '_';
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
        safe.back() = '_';
    if (safe.size() > kMaxNameBytes) {
        safe.resize(kMaxNameBytes);
        // Never end inside a UTF-8 sequence.
        while (!safe.empty() && (static_cast<unsigned char>(safe.back()) & 0xC0) == 0x80)
            safe.pop_back();
        if (!safe.empty() && static_cast<unsigned char>(safe.back()) >= 0xC0)
            safe.pop_back();
    }
    if (safe.empty() || reservedOnSomeSystem(safe))
        safe = "_" + safe;
    return safe;
}

Notes stageSplit(OutputBatch& batch, const std::string& folder, const std::string& format,
                 const GU_Detail& geo, const std::vector<LegendEntry>& legend) {
    const std::vector<std::string> known = extensions(FormatUse::split);
    if (std::find(known.begin(), known.end(), format) == known.end()) {
        throw OutputError(folder + ": unknown split format '" + format + "' (expected " +
                          extensionList(FormatUse::split, false) + ")");
    }
    detail::PartPlan plan = detail::planParts(geo, legend, folder);
    Notes notes = std::move(plan.notes);
    makeSplitFolder(folder);

    // File names compare without case, as they do on some file systems; groups keep their
    // names first, so only the faces in no group or a clashing name move.
    std::set<std::string> taken;
    std::vector<std::string> stems;
    const auto claim = [&](const std::string& wanted) {
        std::string stem = wanted;
        for (int n = 2; !taken.insert(lowered(stem)).second; ++n)
            stem = wanted + "_" + std::to_string(n);
        return stem;
    };
    for (const detail::Part& part : plan.parts) {
        if (part.name.empty()) {
            stems.emplace_back();
            continue;
        }
        const std::string safe = safeFileName(part.name);
        stems.push_back(safe == part.name && taken.insert(lowered(safe)).second ? safe : "");
    }
    for (std::size_t i = 0; i < plan.parts.size(); ++i) {
        const std::string& groupName = plan.parts[i].name;
        if (!stems[i].empty() || groupName.empty())
            continue;
        stems[i] = claim(safeFileName(groupName));
        notes.push_back(folder + ": group '" + groupName + "' written as '" + stems[i] + "." +
                        format + "'");
    }
    for (std::size_t i = 0; i < plan.parts.size(); ++i) {
        if (!plan.parts[i].name.empty())
            continue;
        stems[i] = claim(kUngrouped);
        if (stems[i] != kUngrouped) {
            notes.push_back(folder + ": faces in no group written as '" + stems[i] + "." + format +
                            "'");
        }
    }

    std::set<std::string> fileNotes;
    for (const std::string& note : notes)
        fileNotes.insert(note.substr(std::min(note.size(), folder.size() + 2)));
    const PartStager stagePart = formatOf("." + format)->stagePart;
    const auto shared = stagePart ? std::make_shared<const GU_Detail>(geo) : nullptr;
    std::vector<unsigned> scratch;
    for (std::size_t i = 0; i < plan.parts.size(); ++i) {
        const std::string path = folder + "/" + stems[i] + "." + format;
        Notes partNotes;
        if (stagePart) {
            partNotes = stagePart(batch, path, shared, plan.parts[i]);
        } else {
            const GU_Detail part =
                detail::partDetail(geo, plan.parts[i], plan.colourOffset, scratch);
            std::vector<LegendEntry> partLegend;
            if (!plan.parts[i].name.empty()) {
                LegendEntry entry;
                entry.name = plan.parts[i].name;
                std::memcpy(entry.swatch, plan.parts[i].colour, sizeof entry.swatch);
                partLegend.push_back(entry);
            }
            partNotes = stageGeometryFile(batch, path, part, partLegend);
        }
        // The polygons split into fans were counted once for the folder; other notes are
        // kept, once each.
        for (const std::string& note : partNotes) {
            const std::string what = note.substr(std::min(note.size(), path.size() + 2));
            if (what.find("triangle fans") == std::string::npos && fileNotes.insert(what).second)
                notes.push_back(folder + ": " + what);
        }
    }
    return notes;
}

}  // namespace hueslice::io
