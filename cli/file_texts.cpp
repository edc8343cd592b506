#include "cli/file_texts.h"

namespace korvane::cli {

namespace {

const char* NodeText(FileProblem::Node node) {
  switch (node) {
    case FileProblem::Node::Fifo:
      return "FIFO";
    case FileProblem::Node::CharacterDevice:
      return "デバイス";
    case FileProblem::Node::BlockDevice:
      return "ブロックデバイス";
    case FileProblem::Node::Socket:
      return "ソケット";
    case FileProblem::Node::Other:
      break;
  }
  return "ファイル以外のもの";
}

}  // namespace

std::string FileProblemText(const FileProblem& problem, Language language) {
  using Kind = FileProblem::Kind;
  if (language != Language::Japanese) return DescribeInEnglish(problem);
  const std::string& path = problem.path;
  const std::string because = problem.reason.empty() ? "" : "（" + problem.reason + "）";
  switch (problem.kind) {
    case Kind::None:
      return "";
    case Kind::NotRegular:
      return path + " は" + NodeText(problem.node) + "で、通常のファイルではありません";
    case Kind::Folder:
      return path + " はフォルダで、通常のファイルではありません";
    case Kind::BrokenLink:
      return path + " は存在しないものを指すシンボリックリンクです" + because;
    case Kind::ReadOnly:
      return path + " は書き込みが許されていません" + because;
    case Kind::CannotCheck:
      return path + " が何か調べられません" + because;
    case Kind::CannotCreate:
      return path + " にファイルを作れません" + because;
    case Kind::CannotWrite:
      return path + " に書き込めません" + because;
    case Kind::CannotReplace:
      return "新しいファイルを " + path + " の場所に置けません" + because;
    case Kind::CannotOpen:
      return path + " を開けません" + because;
    case Kind::CannotRead:
      return path + " を読めません" + because;
    case Kind::TooLarge:
      return path + " が大きすぎます";
  }
  return "";
}

}  // namespace korvane::cli
