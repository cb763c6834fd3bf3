#include <HOST_Internals.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "io/commit/output_batch.h"
#include "io/input/input_file.h"
#include "io/io.h"
#include "test_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

using testing::contentOf;
using testing::entriesIn;
using testing::makeFolder;

TEST(AtomicWrite, ReplacesTheFileAndLeavesNoTemporary) {
    const std::string folder = makeFolder();
    const std::string path = folder + "/x.json";
    writeFileAtomically(path, "old");
    writeFileAtomically(path, "new");
    EXPECT_EQ(contentOf(path), "new");
    EXPECT_EQ(entriesIn(folder), 1u);
}

// A producer's pieces come out whole and in order whatever their sizes: small pieces that
// together pass the size the writes are gathered to, and pieces larger than it between them.
TEST(OutputBatch, ProducedPiecesAreWrittenWholeAndInOrder) {
    const std::vector<std::vector<std::size_t>> cases = {
        {1},
        {1000, 1000, 70000, 3},
        std::vector<std::size_t>(300, 1000),
        {65535, 2, 65536, 1, 200000},
    };
    const std::string folder = makeFolder();
    for (std::size_t c = 0; c < cases.size(); ++c) {
        std::string expected;
        for (std::size_t i = 0; i < cases[c].size(); ++i)
            expected += std::string(cases[c][i], static_cast<char>('a' + i % 26));
        const std::string path = folder + "/p" + std::to_string(c) + ".txt";
        OutputBatch batch;
        batch.add(path, [&, c](const TextSink& sink) {
            std::size_t at = 0;
            for (std::size_t size : cases[c]) {
                sink(std::string_view(expected).substr(at, size));
                at += size;
            }
        });
        batch.commit();
        EXPECT_EQ(contentOf(path), expected) << "case " << c;
    }
}

// A new file gets the mode any program's new file gets under the umask; a replaced one keeps
// its own, even where the umask would allow more.
TEST(AtomicWrite, NewFilesFollowTheUmaskAndReplacedFilesKeepTheirMode) {
    const struct {
        mode_t umask;
        mode_t existing;  // 0: no file there before
        mode_t expected;
    } cases[] = {
        {022, 0, 0644}, {077, 0, 0600}, {002, 0, 0664}, {022, 0600, 0600}, {077, 0664, 0664}};
    const std::string folder = makeFolder();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.umask) + " " + std::to_string(c.existing));
        const std::string path = folder + "/x.json";
        std::filesystem::remove(path);
        if (c.existing) {
            writeFileAtomically(path, "old");
            ASSERT_EQ(::chmod(path.c_str(), c.existing), 0);
        }
        const mode_t before = ::umask(c.umask);
        writeFileAtomically(path, "new");
        ::umask(before);
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.expected);
    }
}

TEST(AtomicWrite, MissingFolderIsAnOutputError) {
    const std::string folder = makeFolder();
    const std::string path = folder + "/absent/x.obj";
    EXPECT_EQ(testing::inputErrorOf([&] { writeFileAtomically(path, "data"); }),
              path + ": cannot create file: No such file or directory");
    EXPECT_THROW(writeFileAtomically(path, "data"), OutputError);
    EXPECT_EQ(entriesIn(folder), 0u);
}

TEST(AtomicWrite, ReadOnlyFolderLeavesTheOldFileAndNoTemporary) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root ignores folder permissions";
    const std::string folder = makeFolder();
    const std::string path = folder + "/x.svg";
    writeFileAtomically(path, "old");
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    EXPECT_THROW(writeFileAtomically(path, "new"), OutputError);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(contentOf(path), "old");
    EXPECT_EQ(entriesIn(folder), 1u);
}

class OutputClashes : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(OutputClashes, TwoSpellingsOfOneFileAreRefusedBeforeWriting) {
    const std::string folder = makeFolder();
    ASSERT_EQ(::mkdir((folder + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("sub", (folder + "/link").c_str()), 0);
    OutputBatch batch;
    batch.add(folder + "/" + GetParam().first, "one");
    batch.add(folder + "/" + GetParam().second, "two");
    EXPECT_THROW(batch.commit(), OutputClash);
    EXPECT_EQ(entriesIn(folder), 2u) << "only sub and link";
    EXPECT_EQ(entriesIn(folder + "/sub"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Spellings, OutputClashes,
                         ::testing::Values(std::make_pair("sub/a.json", "sub/a.json"),
                                           std::make_pair("sub/a.json", "sub/./a.json"),
                                           std::make_pair("sub/a.json", "sub/../sub/a.json"),
                                           std::make_pair("sub/a.json", "link/a.json")));

// Two targets that share a name in different folders, or a file under two names (hard links),
// are two outputs, each written with its own bytes.
TEST(OutputBatch, NamesThatLookAlikeButDifferAreBothWritten) {
    const struct {
        const char* second;
        bool hardLink;
    } cases[] = {{"sub/a.json", false}, {"b.json", true}};
    for (const auto& c : cases) {
        const std::string folder = makeFolder();
        writeFileAtomically(folder + "/a.json", "old");
        if (c.hardLink)
            ASSERT_EQ(::link((folder + "/a.json").c_str(), (folder + "/" + c.second).c_str()), 0);
        else
            ASSERT_EQ(::mkdir((folder + "/sub").c_str(), 0755), 0);
        OutputBatch batch;
        batch.add(folder + "/a.json", "one");
        batch.add(folder + "/" + c.second, "two");
        batch.commit();
        EXPECT_EQ(contentOf(folder + "/a.json"), "one") << c.second;
        EXPECT_EQ(contentOf(folder + "/" + c.second), "two") << c.second;
        EXPECT_EQ(entriesIn(folder), 2u) << c.second;
    }
}

TEST(OutputBatch, TheLongestLegalNameCanBeReplaced) {
    const std::string folder = makeFolder();
    const std::string path = folder + "/" + std::string(250, 'n') + ".json";
    writeFileAtomically(path, "old");
    writeFileAtomically(path, "new");
    EXPECT_EQ(contentOf(path), "new");
    EXPECT_EQ(entriesIn(folder), 1u);
}

TEST(OutputBatch, FolderTargetIsRefusedBeforeAnythingIsWritten) {
    const std::string folder = makeFolder();
    ASSERT_EQ(::mkdir((folder + "/x.svg").c_str(), 0755), 0);
    OutputBatch batch;
    batch.add(folder + "/a.json", "one");
    batch.add(folder + "/x.svg", "two");
    EXPECT_EQ(testing::inputErrorOf([&] { batch.commit(); }),
              folder + "/x.svg: is a folder, not a file");
    EXPECT_EQ(entriesIn(folder), 1u);
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A batch of outputs whose commit fails (one of them cannot be written) must leave the folder
// as it found it: no target touched, no temporary left behind.
TEST(OutputBatch, AFailedCommitLeavesNeitherNewTargetsNorTemporaries) {
    std::string folder = ::testing::TempDir() + "batch_test.XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    writeFileAtomically(folder + "/a.json", "old a");
    OutputBatch batch;
    batch.add(folder + "/a.json", "new a");
    batch.add(folder + "/b.svg", "new b");
    batch.add(folder + "/missing/c.obj", "new c");
    EXPECT_THROW(batch.commit(), OutputError);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"a.json"});
    EXPECT_EQ(readWholeFile(folder + "/a.json"), "old a");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace hueslice::io
