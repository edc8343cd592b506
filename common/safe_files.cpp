#include "common/safe_files.h"

#include <chrono>

namespace korvane {

FileProblem CreateWhole(const std::string& path, const std::string& text) {
  OutputFile file;
  const FileProblem prepared = file.Prepare(path);
  if (prepared) return prepared;
  return file.Commit(text, false);
}

bool LockWaitOver(std::chrono::steady_clock::time_point until, const AbortFlag* abort,
                  LockWait* wait) {
  if (AbortAsked(abort)) {
    wait->end = LockWait::End::Aborted;
    return true;
  }
  if (std::chrono::steady_clock::now() >= until) {
    wait->end = LockWait::End::TimedOut;
    return true;
  }
  return false;
}

std::string DescribeInEnglish(const FileProblem& problem) {
  using Kind = FileProblem::Kind;
  using Node = FileProblem::Node;
  const std::string because = problem.reason.empty() ? "" : ": " + problem.reason;
  switch (problem.kind) {
    case Kind::None:
      return "";
    case Kind::NotRegular: {
      const char* node = problem.node == Node::Fifo              ? "a FIFO"
                         : problem.node == Node::CharacterDevice ? "a device"
                         : problem.node == Node::BlockDevice     ? "a block device"
                         : problem.node == Node::Socket          ? "a socket"
                                                                 : "not a file";
      return problem.path + " is " + node + ", not a regular file";
    }
    case Kind::Folder:
      return problem.path + " is a folder, not a regular file";
    case Kind::BrokenLink:
      return problem.path + " is a symbolic link to nothing" + because;
    case Kind::ReadOnly:
      return problem.path + " may not be written" + because;
    case Kind::CannotCheck:
      return "cannot tell what " + problem.path + " is" + because;
    case Kind::CannotCreate:
      return "cannot create a file in " + problem.path + because;
    case Kind::CannotWrite:
      return "cannot write " + problem.path + because;
    case Kind::CannotReplace:
      return "cannot put the new file in the place of " + problem.path + because;
    case Kind::CannotOpen:
      return "cannot open " + problem.path + because;
    case Kind::CannotRead:
      return "cannot read " + problem.path + because;
    case Kind::TooLarge:
      return problem.path + " is too large";
  }
  return "";
}

}  // namespace korvane
