#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>

#include "common/safe_files.h"
#include "test_support.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;
using Kind = FileProblem::Kind;

std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

void Put(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Prepare and Commit into path, as --read does: the first problem, if any.
FileProblem WriteWhole(const std::string& path, const std::string& text) {
  OutputFile out;
  if (FileProblem problem = out.Prepare(path)) return problem;
  return out.Commit(text);
}

bool IsRoot() {
#ifdef _WIN32
  return false;
#else
  return geteuid() == 0;
#endif
}

TEST(OutputFile, ReplacesARegularFileOrMakesANewOneAndLeavesNothingElse) {
  test::TempDir dir;
  const std::string out = dir.File("flash.bin");
  // Absent: made. Present: replaced as a whole, also by a shorter content.
  ASSERT_FALSE(WriteWhole(out, "first content"));
  EXPECT_EQ(Content(out), "first content");
  ASSERT_FALSE(WriteWhole(out, "second"));
  EXPECT_EQ(Content(out), "second");
  // A leftover of the old fixed name is someone's file: it stays as it was.
  Put(out + ".part", "notes");
  ASSERT_FALSE(WriteWhole(out, "third"));
  EXPECT_EQ(Content(out + ".part"), "notes");
  EXPECT_EQ(test::NamesIn(dir), (std::vector<std::string>{"flash.bin", "flash.bin.part"}));
}

TEST(OutputFile, AFailureOrAnEndWithoutCommitLeavesTheOldFile) {
  test::TempDir dir;
  const std::string out = dir.File("flash.bin");
  Put(out, "old");
  {
    OutputFile file;
    ASSERT_FALSE(file.Prepare(out));
    EXPECT_TRUE(test::FileExists(file.temporary()));
    EXPECT_EQ(file.temporary().rfind(out, 0), 0u) << "made beside its place";
  }  // aborted: never committed
  EXPECT_EQ(Content(out), "old");
  EXPECT_EQ(test::NamesIn(dir), std::vector<std::string>{"flash.bin"});
}

TEST(OutputFile, RefusesWhatIsNoRegularFileBeforeAnythingIsWritten) {
  test::TempDir dir;
  fs::create_directory(dir.File("folder"));
  const std::string readOnly = dir.File("read-only.bin");
  Put(readOnly, "keep");
  fs::permissions(readOnly,
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  struct Case {
    std::string path;
    Kind kind;
  } const cases[] = {
      {dir.File("folder"), Kind::Folder},
      {dir.File("no-such-folder/out.bin"), Kind::CannotCreate},
      // Root may write any file, as cp and a shell's > do; anyone else is refused.
      {readOnly, IsRoot() ? Kind::None : Kind::ReadOnly},
  };
  for (const Case& c : cases) {
    OutputFile out;
    EXPECT_EQ(out.Prepare(c.path).kind, c.kind) << c.path;
  }
  if (IsRoot()) {
    ASSERT_FALSE(WriteWhole(readOnly, "new"));
    EXPECT_EQ(Content(readOnly), "new");
    EXPECT_EQ(fs::status(readOnly).permissions() & fs::perms::owner_write, fs::perms::none)
        << "the file keeps its mode";
  } else {
    EXPECT_EQ(Content(readOnly), "keep");
  }
  fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::add);  // to be removed
}

// Two writers into one place at once: each through a file of its own, so the place
// holds one whole content, never a mix, and no temporary file is left.
TEST(OutputFile, TwoWritersAtOnceLeaveOneWholeContent) {
  test::TempDir dir;
  const std::string out = dir.File("flash.bin");
  const std::string a(40000, 'a'), b(30000, 'b');
  for (int round = 0; round < 20; ++round) {
    auto first = std::async(std::launch::async, [&] { return WriteWhole(out, a); });
    auto second = std::async(std::launch::async, [&] { return WriteWhole(out, b); });
    EXPECT_FALSE(first.get());
    EXPECT_FALSE(second.get());
    const std::string now = Content(out);
    EXPECT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
    EXPECT_EQ(test::NamesIn(dir), std::vector<std::string>{"flash.bin"});
  }
}

TEST(ReadRegularFile, ReadsAFileAndRefusesAFolderOrAFileTooLarge) {
  test::TempDir dir;
  const std::string path = dir.File("flash.bin");
  Put(path, "12345");
  std::vector<uint8_t> bytes;
  ASSERT_FALSE(ReadRegularFile(path, 5, &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "12345");
  EXPECT_EQ(ReadRegularFile(path, 4, &bytes).kind, Kind::TooLarge);
  EXPECT_EQ(ReadRegularFile(dir.path().string(), 100, &bytes).kind, Kind::Folder);
  EXPECT_EQ(ReadRegularFile(dir.File("missing"), 100, &bytes).kind, Kind::CannotOpen);
}

#ifndef _WIN32
// Runs what might wait on a FIFO with a bound: should it still wait after 10 s, the FIFO
// is opened from here to set it free and the test fails.
template <typename Call>
auto Bounded(const std::string& fifo, Call call) {
  auto done = std::async(std::launch::async, call);
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "still waiting on " << fifo << " after 10 s";
    const int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    if (fd >= 0) {
      const char byte = 0;
      (void)!write(fd, &byte, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      close(fd);
    }
  }
  return done.get();
}

TEST(OutputFile, FollowsALinkToItsTargetAndRefusesLinksToAnythingElse) {
  test::TempDir dir;
  const std::string target = dir.File("target.bin");
  const std::string link = dir.File("link.bin");
  Put(target, "old");
  chmod(target.c_str(), 0640);
  fs::create_symlink(target, link);
  OutputFile out;
  ASSERT_FALSE(out.Prepare(link));
  EXPECT_EQ(out.target(), fs::canonical(target).string());
  ASSERT_FALSE(out.Commit("new"));
  EXPECT_TRUE(fs::is_symlink(link)) << "the link stays a link";
  EXPECT_EQ(Content(target), "new");
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u) << "the target keeps its mode";

  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(fifo, dir.File("to-fifo"));
  fs::create_symlink("/dev/null", dir.File("to-null"));
  fs::create_symlink(dir.File("nothing"), dir.File("dangling"));
  struct Case {
    std::string path;
    Kind kind;
    FileProblem::Node node;
  } const cases[] = {
      {fifo, Kind::NotRegular, FileProblem::Node::Fifo},
      {dir.File("to-fifo"), Kind::NotRegular, FileProblem::Node::Fifo},
      {"/dev/null", Kind::NotRegular, FileProblem::Node::CharacterDevice},
      {dir.File("to-null"), Kind::NotRegular, FileProblem::Node::CharacterDevice},
      {dir.File("dangling"), Kind::BrokenLink, FileProblem::Node::Other},
  };
  for (const Case& c : cases) {
    const FileProblem problem = Bounded(fifo, [&] { return WriteWhole(c.path, "flash"); });
    EXPECT_EQ(problem.kind, c.kind) << c.path;
    EXPECT_EQ(problem.node, c.node) << c.path;
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_symlink(dir.File("to-null")));
  EXPECT_FALSE(fs::exists(dir.File("nothing")));
}

TEST(OutputFile, ANewFileGetsTheModeOfANewFile) {
  test::TempDir dir;
  const mode_t mask = umask(0);
  umask(mask);
  ASSERT_FALSE(WriteWhole(dir.File("new.bin"), "x"));
  struct stat info {};
  ASSERT_EQ(stat(dir.File("new.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask) << "not mkstemp's 0600";
}

TEST(SafeFiles, AFifoIsRefusedAtOnceForReadingAndForALog) {
  test::TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<uint8_t> bytes;
  const FileProblem read = Bounded(fifo, [&] { return ReadRegularFile(fifo, 100, &bytes); });
  EXPECT_EQ(read.kind, Kind::NotRegular);
  EXPECT_EQ(DescribeInEnglish(read), fifo + " is a FIFO, not a regular file");
  FileProblem log;
  std::FILE* stream = Bounded(fifo, [&] { return OpenStreamForWriting(fifo, &log); });
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(log.kind, Kind::NotRegular);
  // A regular log is emptied and written from its start.
  const std::string path = dir.File("wire.log");
  Put(path, "an earlier run's lines");
  stream = OpenStreamForWriting(path, &log);
  ASSERT_NE(stream, nullptr) << DescribeInEnglish(log);
  std::fputs("new", stream);
  std::fclose(stream);
  EXPECT_EQ(Content(path), "new");
}
#endif

}  // namespace
}  // namespace korvane
