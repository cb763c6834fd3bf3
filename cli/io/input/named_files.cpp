#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io/input/named_files.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

[[noreturn]] void refuse(const std::string& modelPath, std::string_view reference,
                         std::string_view what, const std::string& reason) {
    throw InputError(modelPath + ": " + std::string(what) + " \"" + printable(reference) +
                     "\": " + reason);
}

// "file:", "http:", "C:" and the like. A scheme is a letter followed by letters, digits, '+',
// '-' or '.', then ':' before any '/'.
bool hasScheme(std::string_view reference) {
    const auto colon = reference.find(':');
    if (colon == std::string_view::npos || colon == 0 || reference.find('/') < colon)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(reference[0])))
        return false;
    for (std::size_t i = 1; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(reference[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

// The canonical form of `path`, or empty when it cannot be had (it does not exist).
std::string canonical(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

NamedFile locateNamedFile(const std::string& modelPath, std::string_view reference,
                          std::string_view what) {
    if (reference.empty())
        refuse(modelPath, reference, what, "empty file name");
    if (reference.find('\0') != std::string_view::npos)
        refuse(modelPath, reference, what, "NUL in file name");
    if (reference.front() == '/')
        refuse(modelPath, reference, what, "absolute paths are not followed");
    if (hasScheme(reference))
        refuse(modelPath, reference, what, "only relative file names are followed");

    // Lexically: ".." may climb back out of a folder the reference went into, never further.
    std::vector<std::string_view> parts;
    for (std::size_t start = 0; start <= reference.size();) {
        auto end = reference.find('/', start);
        if (end == std::string_view::npos)
            end = reference.size();
        const std::string_view part = reference.substr(start, end - start);
        if (part == "..") {
            if (parts.empty())
                refuse(modelPath, reference, what, "leads out of the model's folder");
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    if (parts.empty())
        refuse(modelPath, reference, what, "names the model's folder, not a file");

    const std::string folder = detail::folderOf(modelPath);
    NamedFile named;
    named.path = folder == "/" ? std::string() : folder;
    for (const std::string_view part : parts)
        named.path.append("/").append(part);

    struct stat info {};
    if (::lstat(named.path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return named;
        refuse(modelPath, reference, what, std::strerror(errno));
    }
    named.found = true;
    // Through symbolic links: what the path finally names must still lie in the folder tree.
    const std::string root = canonical(folder);
    const std::string target = canonical(named.path);
    if (target.empty()) {
        named.found = false;  // a dangling link is a missing file
        return named;
    }
    const std::string inside = root == "/" ? root : root + "/";
    if (root.empty() || target.compare(0, inside.size(), inside) != 0)
        refuse(modelPath, reference, what, "leads out of the model's folder");
    return named;
}

}  // namespace hueslice::io
