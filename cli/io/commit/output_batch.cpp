#include "io/commit/output_batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "io/commit/signals.h"
#include "io/commit/targets.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

using detail::failWrite;
using detail::SignalBlock;
using detail::Target;
using detail::TargetKind;

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
        std::string name = detail::folderOf(target) + "/.hueslice-XXXXXX";
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
        std::string temp;     // Create and Replace
        std::string backup;   // Replace: a second name of the old file while renaming
        int flushGroup = -1;  // in flushes, or -1: flushed on its own
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
        detail::watchTemporaries(temporaries.data());
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
        detail::watchTemporaries(nullptr);
        for (const Flush& group : flushes)
            ::close(group.folder);
    }

    Commit(const Commit&) = delete;
    Commit& operator=(const Commit&) = delete;

    void run() {
        groupFlushes();
        for (File& f : files) {
            if (f.target.kind != TargetKind::Stream)
                writeTemporary(f);
        }
        flushGroups();
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
        detail::temporariesPlaced();
        for (File& f : files) {
            if (f.backupMade)
                ::unlink(f.backup.c_str());
            f.backupMade = false;
        }
    }

  private:
    // The temporaries of one file system, flushed together by one syncfs() once all are
    // written: one journal commit for the lot instead of one per file, which is most of the
    // cost of a small file. Its folder is opened before anything is written, so that a
    // writeback error on any of them is one that syncfs() reports.
    struct Flush {
        dev_t device = 0;
        int folder = -1;
        std::size_t files = 0;
        const std::string* firstPath = nullptr;
    };

    void groupFlushes() {
        // Outputs mostly share a folder (a split folder's files all do): each is opened once.
        std::map<std::string, int> groupOfFolder;
        for (File& f : files) {
            if (f.target.kind == TargetKind::Stream)
                continue;
            const std::string folderName = detail::folderOf(f.path);
            const auto known = groupOfFolder.find(folderName);
            int group = known != groupOfFolder.end() ? known->second : openGroup(folderName, f);
            groupOfFolder.emplace(folderName, group);
            if (group >= 0)
                ++flushes[static_cast<std::size_t>(group)].files;
            f.flushGroup = group;
        }
    }

    // The group of the file system holding `folderName`, opened for it; -1 when the folder
    // cannot be opened, and its files are flushed on their own.
    int openGroup(const std::string& folderName, const File& f) {
        const int folder = ::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat info {};
        if (folder < 0 || ::fstat(folder, &info) != 0) {
            if (folder >= 0)
                ::close(folder);
            return -1;
        }
        const auto same = std::find_if(flushes.begin(), flushes.end(),
                                       [&](const Flush& g) { return g.device == info.st_dev; });
        if (same != flushes.end()) {
            ::close(folder);
            return static_cast<int>(same - flushes.begin());
        }
        flushes.push_back(Flush{info.st_dev, folder, 0, &f.path});
        return static_cast<int>(flushes.size()) - 1;
    }

    // A file alone on its file system is flushed by fsync() as it is written; the others here.
    bool flushedAlone(const File& f) const {
        return f.flushGroup < 0 || flushes[static_cast<std::size_t>(f.flushGroup)].files == 1;
    }

    void flushGroups() {
        for (const Flush& group : flushes) {
            if (group.files > 1 && ::syncfs(group.folder) != 0)
                failWrite(*group.firstPath, "cannot flush files to disk", errno);
        }
    }

    void writeTemporary(File& f) {
        int fd = -1;
        // A new file is made with its final permissions (the umask applies), saving a
        // metadata update per file; a replacement stays private until it has the old file's.
        const bool replacing = f.target.kind == TargetKind::Replace;
        const mode_t mode = replacing ? 0600 : 0666;
        for (int attempt = 0; attempt < 100; ++attempt) {
            SignalBlock block;
            fd = ::open(f.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
            if (fd >= 0) {
                f.tempMade = true;
                detail::temporaryMade();
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
        if (replacing) {
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
        }
        if (flushedAlone(f) && ::fsync(fd) != 0)
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
        constexpr off_t kTailStart = off_t{1} << 20;
        // Producers hand over small pieces (a header, then the body): they are gathered so that
        // a small file is one write, and a big one is written in large steps.
        constexpr std::size_t kGather = std::size_t{64} << 10;
        off_t written = 0;
        off_t started = 0;
        std::string gathered;
        const auto writeOut = [&](std::string_view bytes) {
            if (!writeAll(fd, bytes))
                failWrite(f.path, what, errno);
            written += static_cast<off_t>(bytes.size());
            if (written - started >= kWritebackStep) {
                ::sync_file_range(fd, started, written - started, SYNC_FILE_RANGE_WRITE);
                started = written;
            }
        };
        const auto flushGathered = [&] {
            if (!gathered.empty())
                writeOut(gathered);
            gathered.clear();
        };
        const TextSink put = [&](std::string_view bytes) {
            if (gathered.size() + bytes.size() <= kGather) {
                gathered.append(bytes);
                return;
            }
            flushGathered();
            if (bytes.size() >= kGather)
                writeOut(bytes);
            else
                gathered.assign(bytes);
        };
        if (f.produce) {
            (*f.produce)(put);
        } else {
            put(*f.bytes);
        }
        flushGathered();
        // The tail of a file that is not small starts too, so that a folder of such files is
        // written out while the next ones are made rather than all at its one flush.
        if (written - started >= kTailStart)
            ::sync_file_range(fd, started, written - started, SYNC_FILE_RANGE_WRITE);
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
    std::vector<Flush> flushes;
    NameMaker names;
    std::vector<const char*> temporaries;
};

}  // namespace

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
    std::vector<Target> targets = detail::classifyAll(paths);
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

void writeFileAtomically(const std::string& path, std::string_view bytes) {
    OutputBatch batch;
    batch.add(path, std::string(bytes));
    batch.commit();
}

}  // namespace hueslice::io
