#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "io/exchange.h"
#include "io/internal.h"
#include "io/io.h"

namespace hueslice::io {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extensionOf(const std::string& path) {
    const std::string base = baseOf(path);
    const auto dot = base.find_last_of('.');
    if (dot == std::string::npos)
        return {};
    std::string ext = base.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string stemPath(const std::string& path) {
    const std::string base = baseOf(path);
    const auto dot = base.find_last_of('.');
    return dot == std::string::npos ? path : path.substr(0, path.size() - (base.size() - dot));
}

[[noreturn]] void failWrite(const std::string& path, const char* what, int error) {
    throw OutputError(path + ": " + what + ": " + std::strerror(error));
}

}  // namespace

std::string readWholeFile(const std::string& path) {
    // Plain reads, so that every failure (a folder, an I/O error) arrives as an errno to report
    // rather than as a stream exception.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw InputError(path + ": cannot read file: " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    // One read of the expected size straight into the result, so that a large file is neither
    // copied through a buffer nor regrown. The size is only a guess: the file may grow or shrink
    // while it is read, and pipes and the like report none, so reading goes on until a read
    // returns nothing.
    struct stat info {};
    std::size_t expected = 0;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        expected = static_cast<std::size_t>(info.st_size);
    std::string bytes(expected, '\0');
    std::size_t used = 0;
    const auto readInto = [&](char* at, std::size_t room) {
        for (;;) {
            const ssize_t n = ::read(fd, at, room);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno != EINTR)
                throw InputError(path + ": cannot read file: " + std::strerror(errno));
        }
    };
    for (;;) {
        if (used == bytes.size()) {
            // Full: look for more through a small buffer first, so that a file of exactly the
            // expected size (the usual case) ends without growing the result.
            char probe[1 << 12];
            const std::size_t n = readInto(probe, sizeof probe);
            if (n == 0)
                break;
            bytes.resize(std::max(2 * bytes.size(), used + (std::size_t{1} << 16)));
            std::memcpy(&bytes[used], probe, n);
            used += n;
            continue;
        }
        const std::size_t n = readInto(&bytes[used], bytes.size() - used);
        if (n == 0)
            break;
        used += n;
    }
    bytes.resize(used);
    return bytes;
}

OutputBatch::~OutputBatch() {
    for (const Staged& file : staged)
        ::unlink(file.temp.c_str());
}

void OutputBatch::add(const std::string& path, std::string_view bytes) {
    std::string temp = folderOf(path) + "/." + baseOf(path) + ".tmp.XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        failWrite(path, "cannot create file", errno);
    const auto abandon = [&](const char* what, int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        failWrite(path, what, error);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            abandon("cannot write file", n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    // mkstemp makes the file private; give it the usual permissions of a new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0)
        abandon("cannot set file permissions", errno);
    if (::fsync(fd) != 0)
        abandon("cannot flush file to disk", errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        failWrite(path, "cannot write file", error);
    }
    staged.push_back(Staged{path, std::move(temp)});
}

void OutputBatch::commit() {
    // Renames within one folder; once every file is written, this is the only step left that
    // can fail, and it rarely does.
    std::vector<Staged> files;
    files.swap(staged);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (::rename(files[i].temp.c_str(), files[i].path.c_str()) != 0) {
            const int error = errno;
            for (std::size_t j = i; j < files.size(); ++j)
                ::unlink(files[j].temp.c_str());
            failWrite(files[i].path, "cannot replace file", error);
        }
    }
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
    OutputBatch batch;
    batch.add(path, bytes);
    batch.commit();
}

Notes readGeometryFile(const std::string& path, GU_Detail& out, const PlyOptions& options) {
    const std::string ext = extensionOf(path);
    if (ext == "json") {
        readJsonGeometry(readWholeFile(path), path, out);
        return {};
    }
    if (ext == "ply")
        return readPly(readWholeFile(path), path, out, options);
    if (ext == "obj") {
        const std::string obj = readWholeFile(path);
        const std::string library = detail::findMaterialLibrary(obj);
        if (library.empty())
            return readObj(obj, path, std::nullopt, "", out);
        const bool beside = library[0] != '/' && path.find('/') != std::string::npos;
        const std::string mtlPath = beside ? folderOf(path) + "/" + library : library;
        std::string mtl;
        try {
            mtl = readWholeFile(mtlPath);
        } catch (const InputError&) {
            return readObj(obj, path, std::nullopt, mtlPath, out);
        }
        return readObj(obj, path, std::string_view(mtl), mtlPath, out);
    }
    if (ext == "gltf" || ext == "glb")
        return readGltf(readWholeFile(path), path, out, folderOf(path));
    if (ext == "3mf")
        return read3mf(readWholeFile(path), path, out);
    throw InputError(path +
                     ": unknown file type (expected .json, .ply, .obj, .3mf, .gltf or .glb)");
}

Notes stageGeometryFile(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend, bool keepOrder) {
    const std::string ext = extensionOf(path);
    if (ext == "json") {
        batch.add(path, writeJsonGeometry(detail, path));
        return {};
    }
    if (ext == "svg") {
        batch.add(path, writeSvg(detail, legend));
        return {};
    }
    if (ext == "obj") {
        const std::string mtlPath = stemPath(path) + ".mtl";
        ObjText text = writeObj(detail, baseOf(mtlPath), path, keepOrder);
        if (!text.mtl.empty())
            batch.add(mtlPath, text.mtl);
        batch.add(path, text.obj);
        return std::move(text.warnings);
    }
    WrittenFile file;
    if (ext == "gltf" || ext == "glb")
        file = writeGltf(detail, legend, ext == "glb", path);
    else if (ext == "3mf")
        file = write3mf(detail, legend, path);
    else if (ext == "stl")
        file = writeStl(detail, path);
    else if (ext == "ply")
        file = writePly(detail, path);
    else
        throw OutputError(path +
                          ": unknown file type (expected .json, .obj, .svg, .3mf, .gltf, "
                          ".glb, .stl or .ply)");
    batch.add(path, file.bytes);
    return std::move(file.notes);
}

Notes writeGeometryFile(const std::string& path, const GU_Detail& detail,
                        const std::vector<LegendEntry>& legend) {
    OutputBatch batch;
    Notes warnings = stageGeometryFile(batch, path, detail, legend);
    batch.commit();
    return warnings;
}

}  // namespace hueslice::io
