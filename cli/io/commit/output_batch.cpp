#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/exchange.h"
#include "io/internal.h"
#include "io/io.h"

namespace hueslice::io {

namespace {

// What the signal handler removes: the temporaries of the batch being committed that exist.
const char* const* volatile gTemporaries = nullptr;
volatile std::sig_atomic_t gTemporaryCount = 0;

constexpr int kCleanUpSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTemporariesAndExit(int signal) {
    removeTemporaries();
    static const char kMessage[] = "hueslice: interrupted\n";
    if (::write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) {
        // Nothing more can be done about a failed message while exiting.
    }
    ::_exit(128 + signal);
}

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

// The material library of an OBJ output: the OBJ's stem with .mtl, unless the `mtllib` line
// could not name that file so that it reads back (a line break in it, or leading blanks that
// the reader trims); then those characters become '_'.
std::string materialLibraryOf(const std::string& objPath) {
    const std::string wanted = stemPath(objPath) + ".mtl";
    const std::size_t baseStart = wanted.size() - baseOf(wanted).size();
    std::string path = wanted;
    bool leading = true;
    for (std::size_t i = baseStart; i < path.size(); ++i) {
        leading = leading && (path[i] == ' ' || path[i] == '\t');
        if (leading || path[i] == '\n' || path[i] == '\r')
            path[i] = '_';
    }
    return path;
}

[[noreturn]] void failWrite(const std::string& path, const char* what, int error) {
    throw OutputError(path + ": " + what + ": " + std::strerror(error));
}

// Blocks the clean-up signals for its lifetime, so that a stretch of work is not cut in half.
class SignalBlock {
  public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kCleanUpSignals)
            sigaddset(&set, s);
        ::sigprocmask(SIG_BLOCK, &set, &previous);
    }
    ~SignalBlock() { ::sigprocmask(SIG_SETMASK, &previous, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

    // Whether a clean-up signal arrived while blocked.
    static bool pending() {
        sigset_t set;
        sigemptyset(&set);
        if (::sigpending(&set) != 0)
            return false;
        for (int s : kCleanUpSignals) {
            if (sigismember(&set, s) == 1)
                return true;
        }
        return false;
    }

  private:
    sigset_t previous;
};

// Names of our own beside a target, short whatever the target's name: ".hueslice-" and six
// letters or digits. Random enough that two programs writing into one folder rarely collide;
// a collision is seen (O_EXCL, link) and retried.
class NameMaker {
  public:
    NameMaker() {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        state = static_cast<std::uint64_t>(now.tv_nsec) ^
                (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
                (static_cast<std::uint64_t>(::getpid()) << 40);
    }

    std::string make(const std::string& target) {
        std::string name = folderOf(target) + "/.hueslice-XXXXXX";
        renew(name);
        return name;
    }

    // New random letters in place; the string's buffer stays where it is.
    void renew(std::string& name) {
        static const char kLetters[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        for (std::size_t i = name.size() - 6; i < name.size(); ++i)
            name[i] = kLetters[next() % (sizeof kLetters - 1)];
    }

  private:
    std::uint64_t next() {
        // splitmix64
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::uint64_t state;
};

enum class TargetKind {
    Create,   // no file by that name yet
    Replace,  // a regular file (or a link to one), replaced by renaming
    Stream,   // a FIFO, a character device or standard output, written into
};

struct Target {
    TargetKind kind = TargetKind::Create;
    std::string key;  // the same for two targets that would write one file
    struct stat old {};
};

std::string identity(const struct stat& info) {
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

Target classify(const std::string& path) {
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
    struct stat folder {};
    if (::stat(folderOf(path).c_str(), &folder) != 0)
        failWrite(path, "cannot create file", errno);
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

std::vector<Target> classifyAll(const std::vector<std::string>& paths) {
    std::vector<Target> targets;
    std::unordered_map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        targets.push_back(classify(paths[i]));
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

// Writes all of `bytes` to `fd`; false with errno set on failure.
bool writeAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// One commit of a batch: its files on disk, and what undoing them needs.
class Commit {
  public:
    struct File {
        std::string path;
        const std::string* bytes = nullptr;
        const std::function<void(const TextSink&)>* produce = nullptr;  // instead of bytes
        Target target;
        std::string temp;    // Create and Replace
        std::string backup;  // Replace: a second name of the old file while renaming
        bool tempMade = false;
        bool backupMade = false;
        bool movedAside = false;  // the backup is the old file's only name
        bool placed = false;
    };

    explicit Commit(std::vector<File> batchFiles) : files(std::move(batchFiles)) {
        // Every name is made now, so that the handler's list never moves.
        for (File& f : files) {
            if (f.target.kind == TargetKind::Stream)
                continue;
            f.temp = names.make(f.path);
            if (f.target.kind == TargetKind::Replace)
                f.backup = names.make(f.path);
            temporaries.push_back(f.temp.c_str());
        }
        gTemporaryCount = 0;
        gTemporaries = temporaries.data();
    }

    ~Commit() {
        // Under the block, so that the handler never sees a list of names already gone.
        SignalBlock block;
        for (const File& f : files) {
            if (f.tempMade && !f.placed)
                ::unlink(f.temp.c_str());
            if (f.backupMade)
                ::unlink(f.backup.c_str());
        }
        gTemporaries = nullptr;
        gTemporaryCount = 0;
    }

    Commit(const Commit&) = delete;
    Commit& operator=(const Commit&) = delete;

    void run() {
        for (File& f : files) {
            if (f.target.kind != TargetKind::Stream)
                writeTemporary(f);
        }
        std::cout.flush();
        for (File& f : files) {
            if (f.target.kind == TargetKind::Stream)
                writeStream(f);
        }
        SignalBlock block;
        for (File& f : files) {
            if (f.target.kind == TargetKind::Stream)
                continue;
            const int error = place(f);
            if (error != 0)
                undo(f.path + ": cannot replace file: " + std::strerror(error));
        }
        if (SignalBlock::pending()) {
            // Stopped by the user: the old files come back before the signal ends the program.
            undo("interrupted");
        }
        // Done: the old files go, still under the block so that a signal cannot strand them.
        gTemporaryCount = 0;
        for (File& f : files) {
            if (f.backupMade)
                ::unlink(f.backup.c_str());
            f.backupMade = false;
        }
    }

  private:
    void writeTemporary(File& f) {
        int fd = -1;
        for (int attempt = 0; attempt < 100; ++attempt) {
            SignalBlock block;
            fd = ::open(f.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd >= 0) {
                f.tempMade = true;
                gTemporaryCount = gTemporaryCount + 1;
                break;
            }
            if (errno != EEXIST)
                break;
            names.renew(f.temp);
        }
        if (fd < 0)
            failWrite(f.path, "cannot create file", errno);
        const auto fail = [&](const char* what, int error) {
            ::close(fd);
            failWrite(f.path, what, error);
        };
        try {
            writeContent(fd, f, "cannot write file");
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (f.target.kind == TargetKind::Replace) {
            const struct stat& old = f.target.old;
            // Root can give the file back to its owner; anyone may keep a group they belong to.
            // The owner comes first, as changing it clears set-id bits.
            if (::geteuid() == 0) {
                if (::fchown(fd, old.st_uid, old.st_gid) != 0)
                    fail("cannot keep the file's owner", errno);
            } else if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
                // Not a member of the file's group: the new file has the user's group.
            }
            if (::fchmod(fd, old.st_mode & 07777) != 0)
                fail("cannot keep the file's permissions", errno);
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            if (::fchmod(fd, 0666 & ~mask) != 0)
                fail("cannot set file permissions", errno);
        }
        if (::fsync(fd) != 0)
            fail("cannot flush file to disk", errno);
        if (::close(fd) != 0)
            failWrite(f.path, "cannot write file", errno);
    }

    static void writeStream(const File& f) {
        const bool standardOutput = f.path == kStandardOutput;
        // Opening a FIFO waits for its reader; a signal meanwhile ends the program cleanly.
        const int fd = standardOutput ? STDOUT_FILENO
                                      : ::open(f.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            failWrite(f.path, "cannot open for writing", errno);
        try {
            writeContent(fd, f, "cannot write");
        } catch (...) {
            if (!standardOutput)
                ::close(fd);
            throw;
        }
        if (!standardOutput)
            ::close(fd);
    }

    // Writes the file's bytes, or what its producer makes as it makes it, to `fd`. Throws
    // OutputError "PATH: what: reason".
    static void writeContent(int fd, const File& f, const char* what) {
        // Writeback of a big file is started every few MiB as it is written, so that the flush
        // before the rename waits for the tail only. A failed start (a FIFO, a terminal) costs
        // nothing: the flush, where there is one, still does the whole job.
        constexpr off_t kWritebackStep = off_t{8} << 20;
        off_t written = 0;
        off_t started = 0;
        const TextSink put = [&](std::string_view bytes) {
            if (!writeAll(fd, bytes))
                failWrite(f.path, what, errno);
            written += static_cast<off_t>(bytes.size());
            if (written - started >= kWritebackStep) {
                ::sync_file_range(fd, started, written - started, SYNC_FILE_RANGE_WRITE);
                started = written;
            }
        };
        if (f.produce) {
            (*f.produce)(put);
        } else {
            put(*f.bytes);
        }
    }

    // Puts one file in place; returns 0 or the errno of the failure.
    int place(File& f) {
        if (f.target.kind == TargetKind::Replace) {
            // A second name keeps the old file until every rename has succeeded. A link leaves
            // the target in place for readers; where links are not allowed, the old file is
            // moved aside instead.
            int error = linkBackup(f);
            if (error != 0)
                return error;
            if (::rename(f.temp.c_str(), f.path.c_str()) != 0)
                return errno;
        } else if (::renameat2(AT_FDCWD, f.temp.c_str(), AT_FDCWD, f.path.c_str(),
                               RENAME_NOREPLACE) != 0) {
            // A file that appeared since the check is not ours to overwrite.
            if (errno != EINVAL && errno != ENOSYS)
                return errno;
            if (::rename(f.temp.c_str(), f.path.c_str()) != 0)
                return errno;
        }
        f.placed = true;
        return 0;
    }

    int linkBackup(File& f) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (::link(f.path.c_str(), f.backup.c_str()) == 0) {
                f.backupMade = true;
                return 0;
            }
            const int error = errno;
            if (error == EEXIST) {
                names.renew(f.backup);
                continue;
            }
            struct stat now {};
            if (::lstat(f.path.c_str(), &now) != 0)
                return errno;
            if (S_ISDIR(now.st_mode))
                return EISDIR;
            if (error != EPERM && error != ENOTSUP && error != EMLINK)
                return error;
            if (::renameat2(AT_FDCWD, f.path.c_str(), AT_FDCWD, f.backup.c_str(),
                            RENAME_NOREPLACE) != 0) {
                if (errno == EEXIST) {
                    names.renew(f.backup);
                    continue;
                }
                return errno;
            }
            f.backupMade = true;
            f.movedAside = true;
            return 0;
        }
        return EEXIST;
    }

    // Puts every old file back, then throws `reason` with what could not be put back.
    [[noreturn]] void undo(const std::string& reason) {
        std::string lost;
        for (auto f = files.rbegin(); f != files.rend(); ++f) {
            if (f->target.kind == TargetKind::Replace && f->backupMade && !f->placed &&
                !f->movedAside) {
                // The old file never left; its second name just goes.
                ::unlink(f->backup.c_str());
                f->backupMade = false;
            } else if (f->target.kind == TargetKind::Replace && f->backupMade) {
                if (::rename(f->backup.c_str(), f->path.c_str()) == 0) {
                    f->backupMade = false;
                    f->placed = false;
                } else {
                    if (lost.empty()) {
                        lost = "; could not restore " + f->path + ": " + std::strerror(errno) +
                               " (its old content is in " + f->backup + ")";
                    }
                    f->backupMade = false;  // the only copy of the old content: kept
                }
            } else if (f->placed) {
                ::unlink(f->path.c_str());
                f->placed = false;
                f->tempMade = false;
            }
        }
        throw OutputError(reason + lost);
    }

    std::vector<File> files;
    NameMaker names;
    std::vector<const char*> temporaries;
};

}  // namespace

void checkOutputTargets(const std::vector<std::string>& paths) {
    classifyAll(paths);
}

void OutputBatch::add(const std::string& path, std::string bytes) {
    staged.push_back(Staged{path, std::move(bytes), {}});
}

void OutputBatch::add(const std::string& path, std::function<void(const TextSink&)> produce) {
    staged.push_back(Staged{path, std::string(), std::move(produce)});
}

void OutputBatch::commit() {
    std::vector<Staged> batch;
    batch.swap(staged);
    std::vector<std::string> paths;
    for (const Staged& s : batch)
        paths.push_back(s.path);
    std::vector<Target> targets = classifyAll(paths);
    std::vector<Commit::File> files(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i) {
        files[i].path = batch[i].path;
        files[i].bytes = &batch[i].bytes;
        if (batch[i].produce)
            files[i].produce = &batch[i].produce;
        files[i].target = std::move(targets[i]);
    }
    Commit(std::move(files)).run();
}

void removeTemporaries() noexcept {
    const char* const* names = gTemporaries;
    for (std::sig_atomic_t i = 0; names && i < gTemporaryCount; ++i)
        ::unlink(names[i]);
}

void cleanUpOnSignals() {
    for (int s : kCleanUpSignals) {
        struct sigaction current {};
        if (::sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = removeTemporariesAndExit;
        sigemptyset(&action.sa_mask);
        for (int other : kCleanUpSignals)
            sigaddset(&action.sa_mask, other);
        ::sigaction(s, &action, nullptr);
    }
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
    OutputBatch batch;
    batch.add(path, std::string(bytes));
    batch.commit();
}

std::vector<std::string> geometryOutputFiles(const std::string& path) {
    if (path != kStandardOutput && extensionOf(path) == "obj")
        return {path, materialLibraryOf(path)};
    return {path};
}

Notes readGeometryFile(const std::string& path, GU_Detail& out, const ReadOptions& options,
                       ColourSource* source) {
    const std::string ext = extensionOf(path);
    if (ext == "json") {
        readJsonGeometry(readWholeFile(path), path, out, source);
        return {};
    }
    if (ext == "ply")
        return readPlyFile(path, out, options, source);
    if (ext == "obj") {
        InputFile file(path);
        detail::ObjSource obj;
        obj.read = [&file](char* at, std::size_t room) { return file.read(at, room); };
        obj.sizeHint = file.sizeWhenOpened();
        obj.refuseNulLibrary = true;
        obj.helperThread = true;
        obj.findLibrary = [&path](const detail::MaterialLibrary& library) {
            detail::MaterialText found;
            if (library.name.empty())
                return found;
            const auto located = [&](const std::string& name) {
                const bool beside = name[0] != '/' && path.find('/') != std::string::npos;
                return beside ? folderOf(path) + "/" + name : name;
            };
            // `mtllib a b` names two libraries, but a file called "a b" is taken when there is
            // one: that is how names with spaces are written.
            found.name = located(library.name);
            struct stat info {};
            if (::stat(found.name.c_str(), &info) != 0 && errno == ENOENT)
                found.name = located(library.firstWord);
            if (::stat(found.name.c_str(), &info) == 0 || errno != ENOENT)
                found.text = readWholeFile(found.name);
            return found;
        };
        return detail::readObjPieces(obj, path, out, options, source);
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
    const std::string ext = path == kStandardOutput ? "json" : extensionOf(path);
    if (ext == "json") {
        // The copy shares the detail's storage, and lives as long as the batch needs it.
        batch.add(path, [copy = GU_Detail(detail), path](const TextSink& sink) {
            writeJsonGeometry(copy, path, sink);
        });
        return {};
    }
    if (ext == "svg") {
        Notes warnings;
        batch.add(path, writeSvg(detail, legend, &warnings));
        for (std::string& w : warnings)
            w = path + ": " + w;
        return warnings;
    }
    if (ext == "obj") {
        const std::string mtlPath = materialLibraryOf(path);
        ObjStream text = streamObj(detail, baseOf(mtlPath), path, keepOrder);
        if (!text.mtl.empty()) {
            batch.add(mtlPath, std::move(text.mtl));
            if (mtlPath != stemPath(path) + ".mtl") {
                text.warnings.push_back(path + ": material library written as '" + baseOf(mtlPath) +
                                        "', as an obj file cannot name it after the obj");
            }
        }
        batch.add(path, std::move(text.writeObj));
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
