#include "io/commit/targets.h"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/commit/output_batch.h"
#include "io/internal.h"

namespace hueslice::io::detail {

namespace {

std::string identity(const struct stat& info) {
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

// Folders already looked at, by name: a split folder's files all share one.
using FolderInfo = std::unordered_map<std::string, struct stat>;

Target classify(const std::string& path, FolderInfo& folders) {
    Target target;
    if (path == kStandardOutput) {
        target.kind = TargetKind::Stream;
        struct stat info {};
        target.key = ::fstat(STDOUT_FILENO, &info) == 0 ? identity(info) : std::string(path);
        return target;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            throw OutputError(path + ": is a folder, not a file");
        if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) {
            target.kind = TargetKind::Stream;
            target.key = identity(info);
            return target;
        }
        if (!S_ISREG(info.st_mode)) {
            throw OutputError(path +
                              ": cannot write this kind of file (only a regular file, a FIFO or a "
                              "character device)");
        }
        target.kind = TargetKind::Replace;
        target.old = info;
    } else if (errno != ENOENT) {
        failWrite(path, "cannot create file", errno);
    }
    const std::string folderName = folderOf(path);
    auto known = folders.find(folderName);
    if (known == folders.end()) {
        struct stat folderInfo {};
        if (::stat(folderName.c_str(), &folderInfo) != 0)
            failWrite(path, "cannot create file", errno);
        known = folders.emplace(folderName, folderInfo).first;
    }
    const struct stat& folder = known->second;
    // In a sticky folder such as /tmp only the owner of a file (or of the folder) may replace
    // it; seen now, the failure comes before anything is written.
    const uid_t user = ::geteuid();
    if (target.kind == TargetKind::Replace && (folder.st_mode & S_ISVTX) && user != 0 &&
        target.old.st_uid != user && folder.st_uid != user) {
        failWrite(path, "cannot replace file", EPERM);
    }
    // Renaming replaces a name in a folder, so two names are one target when they are one name
    // in one folder, however they are spelled.
    target.key = identity(folder) + "/" + baseOf(path);
    return target;
}

}  // namespace

std::vector<Target> classifyAll(const std::vector<std::string>& paths) {
    std::vector<Target> targets;
    std::unordered_map<std::string, std::size_t> seen;
    FolderInfo folders;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        targets.push_back(classify(paths[i], folders));
        const auto found = seen.emplace(targets.back().key, i);
        if (!found.second) {
            const std::string& first = paths[found.first->second];
            throw OutputClash(
                paths[i] + ": two outputs would write this file" +
                (first == paths[i] ? std::string() : " (also named '" + first + "')"));
        }
    }
    return targets;
}

}  // namespace hueslice::io::detail

namespace hueslice::io {

void checkOutputTargets(const std::vector<std::string>& paths) {
    detail::classifyAll(paths);
}

}  // namespace hueslice::io
