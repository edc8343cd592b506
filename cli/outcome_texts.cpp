#include "cli/outcome_texts.h"

#include <cstdio>
#include <initializer_list>

#include "cli/progress_bar.h"
#include "isp/isp_commands.h"

namespace korvane::cli {

namespace {

const std::vector<OutcomeText> kEnglish = {
    {JobOutcome::Success, "", ""},
    {JobOutcome::FileOpenFailed, "cannot open the file", "check the file's name and folder"},
    {JobOutcome::FileReadFailed, "cannot read the file", "give a regular file that you may read"},
    {JobOutcome::FileEmpty, "the file is empty: nothing to write", "build the program again"},
    {JobOutcome::FileTooLarge, "the image is larger than the chip's flash",
     "link the program for the chip's flash (korvane-cli --list-parts tells each part's)"},
    {JobOutcome::PortOpenFailed, "cannot open the serial port",
     "korvane-cli --list-ports lists the ports present; on Linux the user must be in the device's "
     "group (ls -l shows it; dialout on Debian)"},
    {JobOutcome::CommunicationError, "the serial port refused its settings",
     "check that the device is a serial port and still plugged in"},
    {JobOutcome::IspEntryFailed, "the chip's boot loader did not answer",
     "check the wiring (by default RTS drives the ISP pin and DTR the reset; see --reset), that "
     "the board "
     "has power, and that TX and RX are crossed"},
    {JobOutcome::BaudChangeFailed, "the boot loader did not change its baud rate",
     "try a lower --baud"},
    {JobOutcome::WrongChip, "the chip is not the part expected",
     "check the board; korvane-cli --list-parts lists the parts Korvane writes, and --part "
     "names the one a board must be"},
    {JobOutcome::EraseFailed, "erasing the flash failed",
     "reset the board and write again; a chip under code read protection refuses the erase"},
    {JobOutcome::Aborted, "the write was aborted", ""},
    {JobOutcome::WriteFailed, "writing the program failed",
     "write again; if it fails again at the same block, try a lower --baud"},
    {JobOutcome::VerifyFailed, "verify failed: the flash differs from the image",
     "write again; a difference at the same address again points to worn flash"},
    {JobOutcome::IspLeaveFailed, "the chip could not be reset into its program",
     "the program is written: reset the board by hand"},
    {JobOutcome::DeleteFailed, "the file was written but not deleted",
     "it changed after it was read, or it may not be deleted: it stays"},
    {JobOutcome::ReadFailed, "reading the flash failed",
     "read again; if it fails again, try a lower --baud"},
    {JobOutcome::SerialNumberFailed, "no serial number could be taken for the board",
     "check the file of --serial-file; nothing was written to the board"},
};

// The sentences are the window's messages, word for word.
const std::vector<OutcomeText> kJapanese = {
    {JobOutcome::Success, "", ""},
    {JobOutcome::FileOpenFailed, "ファイルが開けませんでした",
     "ファイル名とフォルダを確かめてください"},
    {JobOutcome::FileReadFailed, "ファイルの読み込みに失敗しました。",
     "読み取りできる通常のファイルを指定してください"},
    {JobOutcome::FileEmpty, ".binファイルのサイズが0です。書き込めません。",
     "プログラムをビルドし直してください"},
    {JobOutcome::FileTooLarge, ".binファイルのサイズが大きすぎます。書き込めません。",
     "チップのフラッシュに収まるようにリンクしてください（各パーツの容量は korvane-cli "
     "--list-parts "
     "で分かります）"},
    {JobOutcome::PortOpenFailed, "COMポートが開けません。",
     "korvane-cli --list-ports で今あるポートが分かります。Linux ではデバイスのグループ（ls -l "
     "で分かります。"
     "Debian では dialout）に入っている必要があります"},
    {JobOutcome::CommunicationError, "通信中にエラーが発生しました",
     "デバイスがシリアルポートで、まだ接続されているか確かめてください"},
    {JobOutcome::IspEntryFailed, "ISPモードに入れませんでした。",
     "配線（既定では RTS が ISP 端子を、DTR がリセットを駆動します。--reset "
     "を参照）、ボードの電源、TX と RX "
     "の交差を確かめてください"},
    {JobOutcome::BaudChangeFailed, "ボーレート切り替えに失敗しました。",
     "--baud で低いレートを試してください"},
    {JobOutcome::WrongChip, "指定以外のマイコンが装着されています。",
     "ボードを確かめてください。Korvane が書き込めるパーツは korvane-cli --list-parts で分かり、"
     "--part でボードのパーツを指定できます"},
    {JobOutcome::EraseFailed, "フラッシュメモリの消去に失敗しました。",
     "ボードをリセットして書き込み直してください。コードリードプロテクション中のチップは消去を拒み"
     "ます"},
    {JobOutcome::Aborted, "フラッシュメモリの書き込みを中断しました", ""},
    {JobOutcome::WriteFailed, "プログラムの書き込みに失敗しました。",
     "書き込み直してください。同じブロックでまた失敗するなら --baud で低いレートを試してください"},
    {JobOutcome::VerifyFailed,
     "ベリファイに失敗しました。フラッシュメモリの内容がイメージと違います。",
     "書き込み直してください。同じアドレスでまた違うならフラッシュの劣化が考えられます"},
    {JobOutcome::IspLeaveFailed, "ISPモードから抜けるのに失敗しました。",
     "プログラムは書き込まれています。ボードを手でリセットしてください"},
    {JobOutcome::DeleteFailed, ".binファイルが消去できませんでした。",
     "読み込んだ後に変更されたか、削除が許されていません。ファイルはそのまま残ります"},
    {JobOutcome::ReadFailed, "フラッシュメモリの読み出しに失敗しました。",
     "読み出し直してください。また失敗するなら --baud で低いレートを試してください"},
    {JobOutcome::SerialNumberFailed, "ボードのシリアル番号を割り当てられませんでした。",
     "--serial-file のファイルを確かめてください。ボードには何も書き込んでいません"},
};

const Words kEnglishWords = {
    "file: {0}",
    "{0} ({1})",
    "size: {0} bytes; the flash holds {1}",
    "part ID read: {0}; accepted: {1}",
    "the answer to J was \"{0}\", not a part ID",
    "the boot loader answered {0} with {1}",
    "no answer to {0} in time (awaited \"{1}\")",
    "the answer to {0} was \"{1}\" (awaited \"{2}\")",
    "{0} could not be sent",
    "the port did not move RTS and DTR for the reset",
    "the block at {1}: {0}",
    "{0}, after {1} attempts",
    "first difference at {0}",
    "{0} (asked for {1} baud)",
    "port: {0}: {1}",
    "next: {0}",
    "resetting into the boot loader (attempt {0} of {1})",
    "connected; reading the part ID",
    "erasing sectors {0}-{1}",
    "resetting into the program",
    "erasing sector {0}",
    "{0}; attempt {1} of {2}",
    "ok",
    "{0}: {1} in {2}",
    " (attempt {0} of {1})",
    " ({0} attempts)",
    " (attempt {0})",
    "port",
    "time",
    "result",
    "{0} boards:",
    "{0} boards: {1} ok",
    ", {0} not written: {1}",
    "--reset none: hold the ISP button while you reset the board; waiting for its boot loader (5 "
    "attempts, 2 s each)",
    "the chip's code read protection refuses this; korvane-cli --erase-all erases the whole flash, "
    "which lifts "
    "it (korvane-cli --erase-all FILE then writes FILE)",
    "erased; resetting into the boot loader again, where the chip reads its code read "
    "protection anew",
    "--reset none: the whole flash is erased; the chip reads its code read protection anew only "
    "when it is reset: hold the ISP button while you reset the board again; waiting for its boot "
    "loader (5 attempts, 2 s each)",
    "done so far: the whole flash is erased (the code read protection it held ends at the chip's "
    "next reset); nothing is written yet",
    "this port cannot move RTS and DTR (a pseudo-terminal and some adapters have no modem lines): "
    "reset the board into its boot loader by hand with --reset none",
    "hold the ISP button while you reset the board (the boot loader is looked for 5 times, 2 s "
    "each); check that the board has power and that TX and RX are crossed",
    "reading the flash was aborted",
    "reading the chip's information was aborted",
    "erasing the flash was aborted",
    "note: the chip's code read protection holds until its next reset, and until then it refuses "
    "to start a program (G 0 T): reset the board",
    {"waiting", "reset", "handshake", "erase", "writing", "writing, verifying", "restart", "done",
     "failed", "aborted"},
    "serial",
    "end the program named above (a terminal program, ModemManager, another korvane-cli), or "
    "wait for it to end, and write again",
    "join the group named above as it says, then log in again",
};

const Words kJapaneseWords = {
    "ファイル: {0}",
    "{0}（{1}）",
    "サイズ: {0} バイト（フラッシュは {1} バイト）",
    "読み取った品番ID: {0}（受け付けるのは {1}）",
    "J への応答が \"{0}\" で、品番IDではありません",
    "ブートローダーが {0} に {1} と応答しました",
    "{0} に時間内の応答がありません（待っていた応答: \"{1}\"）",
    "{0} への応答が \"{1}\" でした（待っていた応答: \"{2}\"）",
    "{0} を送れませんでした",
    "ポートがリセットのための RTS と DTR を動かせませんでした",
    "ブロック {1}: {0}",
    "{0}（{1} 回試行）",
    "最初の違い: {0}",
    "{0}（{1} ボーを指定）",
    "ポート: {0}: {1}",
    "次の手順: {0}",
    "ブートローダーへリセットしています（{1} 回中 {0} 回目）",
    "接続しました。品番IDを読んでいます",
    "セクタ {0}-{1} を消去しています",
    "プログラムへリセットしています",
    "セクタ {0} を消去しています",
    "{0}（{2} 回中 {1} 回目を試します）",
    "成功",
    "{0}: {1}（{2}）",
    "（{1} 回中 {0} 回目）",
    "（{0} 回）",
    "（{0} 回目）",
    "ポート",
    "時間",
    "結果",
    "{0} 台:",
    "{0} 台: 成功 {1}",
    "、書き込めなかったもの {0}: {1}",
    "--reset none: ISP "
    "ボタンを押したままボードをリセットしてください。ブートローダーを待っています（2 秒ずつ 5 回）",
    "チップのコードリードプロテクションが拒んでいます。korvane-cli --erase-all "
    "でフラッシュ全体を消去すると解除されます"
    "（korvane-cli --erase-all FILE ならそのまま FILE を書き込みます）",
    "消去しました。チップがコードリードプロテクションを読み直すよう、もう一度ブートローダーへリセッ"
    "ト"
    "しています",
    "--reset none: フラッシュ全体を消去しました。チップはリセットされたときにだけコードリードプロテ"
    "クションを読み直します。ISP "
    "ボタンを押したままもう一度ボードをリセットしてください。ブートローダ"
    "ーを待っています（2 秒ずつ 5 回）",
    "ここまでに済んだこと: "
    "フラッシュ全体を消去しました（かかっていたコードリードプロテクションはチッ"
    "プの次のリセットで解除されます）。まだ何も書き込んでいません",
    "このポートは RTS と DTR "
    "を動かせません（疑似端末や一部のアダプタにはモデム制御線がありません）。"
    "--reset none で、ボードを手でブートローダーへリセットしてください",
    "ISP ボタンを押したままボードをリセットしてください（ブートローダーを 2 秒ずつ 5 回待ちます）。"
    "ボードの電源と、TX と RX の交差も確かめてください",
    "フラッシュメモリの読み出しを中断しました",
    "チップ情報の読み取りを中断しました",
    "フラッシュメモリの消去を中断しました",
    "注: チップのコードリードプロテクションは次のリセットまで有効で、それまでプログラムの起動（G 0 "
    "T）"
    "を拒みます。ボードをリセットしてください",
    {"待機中", "リセット", "接続", "消去", "書き込み中", "書き込み・照合中", "再起動", "完了",
     "失敗", "中断"},
    "シリアル番号",
    "上に示したプログラム（端末プログラム、ModemManager、別の korvane-cli など）を終了するか、"
    "終わるのを待ってから書き込み直してください",
    "上に示したとおりグループに加わり、ログインし直してください",
};

}  // namespace

const Words& WordsOf(Language language) {
  return language == Language::Japanese ? kJapaneseWords : kEnglishWords;
}

std::string Fill(const char* text, std::initializer_list<std::string> values) {
  std::string filled;
  for (const char* p = text; *p != '\0'; ++p) {
    if (p[0] == '{' && p[1] >= '0' && p[1] <= '9' && p[2] == '}' &&
        static_cast<size_t>(p[1] - '0') < values.size()) {
      filled += *(values.begin() + (p[1] - '0'));
      p += 2;
    } else {
      filled += *p;
    }
  }
  return filled;
}

namespace {

// The exchange with the boot loader that failed, in a line; empty when none did.
std::string IspLine(const IspResult& isp, const Words& words) {
  switch (isp.status) {
    case IspStatus::Ok:
      return "";
    case IspStatus::Refused:
      return Fill(words.refused, {isp.command, DescribeReturnCode(isp.code)});
    case IspStatus::TimedOut:
      return Fill(words.timedOut, {isp.command, isp.awaited});
    case IspStatus::Garbled:
      return Fill(words.garbled, {isp.command, Printable(isp.received), isp.awaited});
    case IspStatus::PortFailed:
      return Fill(words.unsent, {isp.command});
    case IspStatus::LinesFailed:
      return words.linesFailed;
    case IspStatus::Aborted:
      return "";
  }
  return "";
}

}  // namespace

std::string PartText(uint32_t id, const Part* part) {
  if (part) return Hex(id) + " (" + part->name + ")";
  // Without a row chosen, every package of the die that answers so.
  std::string names;
  for (const Part* row : PartsWithId(id))
    names += (names.empty() ? "" : ", ") + std::string(row->name);
  return Hex(id) + (names.empty() ? "" : " (" + names + ")");
}

std::string ExpectedText(const std::vector<const Part*>& parts, Language language) {
  const std::vector<const Part*>& expected =
      parts.empty() ? std::vector<const Part*>{&kLpc1114} : parts;
  if (expected.size() >= AllParts().size()) {
    return language == Language::Japanese ? "korvane-cli --list-parts のパーツ"
                                          : "the parts of korvane-cli --list-parts";
  }
  if (expected.size() > 3) {
    // Some of the table's parts (--part PREFIX): the first three named, the rest counted.
    std::string names;
    for (size_t i = 0; i < 3; ++i) names += std::string(expected[i]->name) + ", ";
    const std::string more = std::to_string(expected.size() - 3);
    return language == Language::Japanese
               ? names + "ほか " + more + " 品種"
               : names.substr(0, names.size() - 2) + " and " + more + " more";
  }
  std::string text;
  for (const Part* part : expected) {
    text += (text.empty() ? "" : ", ") + std::string(part->name) + " (" + Hex(part->ids[0]);
    if (part->ids[1] != 0) text += ", " + Hex(part->ids[1]);
    text += ")";
  }
  return text;
}

const std::vector<OutcomeText>& OutcomeTable(Language language) {
  return language == Language::Japanese ? kJapanese : kEnglish;
}

namespace {

// J unanswered after the rate changed: no answer, with the rate as the suspect, rather
// than the wrong chip.
// The outcome's sentence, as the table has it but for J unanswered.
const char* SentenceOf(const JobResult& result, Language language) {
  if (!result.NoAnswerToPartId())
    return OutcomeTable(language)[static_cast<size_t>(result.outcome)].sentence;
  return language == Language::Japanese
             ? "ボーレート切り替え後、マイコンが J（品種 ID の読み出し）に応答しません"
             : "no answer to J (the part ID) after the change of rate";
}
std::string NoAnswerNext(uint32_t baud, Language language) {
  const std::string rate = std::to_string(baud);
  return language == Language::Japanese
             ? "マイコンまたはアダプタが " + rate +
                   " baud を保てない可能性があります。--baud 38400 や 19200 など低いレートで"
                   "書き込んでください"
             : "the chip or the adapter may not hold " + rate +
                   " baud: write at a lower rate (--baud 38400 or 19200)";
}

}  // namespace

std::string ShortText(const JobResult& result, Language language) {
  std::string text = SentenceOf(result, language);
  if (result.isp.status == IspStatus::Refused) text += ": " + DescribeReturnCode(result.isp.code);
  return text;
}

std::vector<std::string> DetailLines(const JobResult& result, Language language,
                                     const PortFacts& port) {
  const Words& words = WordsOf(language);
  std::vector<std::string> lines;
  const JobOutcome outcome = result.outcome;
  if (!result.file.empty() &&
      (outcome == JobOutcome::FileOpenFailed || outcome == JobOutcome::FileReadFailed ||
       outcome == JobOutcome::FileEmpty || outcome == JobOutcome::FileTooLarge ||
       outcome == JobOutcome::DeleteFailed || outcome == JobOutcome::SerialNumberFailed)) {
    const std::string file = Fill(words.file, {result.file});
    lines.push_back(result.systemError.empty() ? file
                                               : Fill(words.reason, {file, result.systemError}));
  }
  if (outcome == JobOutcome::FileTooLarge) {
    lines.push_back(
        Fill(words.size, {std::to_string(result.fileSize),
                          std::to_string(result.flashSize ? result.flashSize : kMaxImageSize)}));
  }
  if (outcome == JobOutcome::WrongChip && result.partId)
    lines.push_back(Fill(words.partRead, {PartText(*result.partId, result.foundPart),
                                          ExpectedText(result.expectedParts, language)}));
  if (outcome == JobOutcome::WrongChip && !result.partId && result.isp) {
    lines.push_back(Fill(words.partAnswer, {Printable(result.partIdLine)}));
  }
  std::string isp = IspLine(result.isp, words);
  if (!isp.empty()) {
    if (result.address && outcome == JobOutcome::WriteFailed)
      isp = Fill(words.block, {isp, Hex(*result.address)});
    if (result.attempts > 1) isp = Fill(words.attempts, {isp, std::to_string(result.attempts)});
    if (outcome == JobOutcome::BaudChangeFailed)
      isp = Fill(words.baud, {isp, std::to_string(result.transferBaud)});
    lines.push_back(isp);
  }
  if (outcome == JobOutcome::VerifyFailed && result.address) {
    lines.push_back(Fill(words.difference, {Hex(*result.address)}));
  }
  if (!port.cause.empty()) lines.push_back(Fill(words.portLine, {port.device, port.cause}));
  if (result.flashErased) lines.push_back(words.erasedSoFar);
  // A port that would not open: what stands in the way, where the port's reason names it.
  const bool portHeld = outcome == JobOutcome::PortOpenFailed &&
                        port.cause.find("in use by another program") != std::string::npos;
  const bool portGroup = outcome == JobOutcome::PortOpenFailed &&
                         port.cause.find(" belongs to group ") != std::string::npos;
  if (result.NoAnswerToPartId()) {
    lines.push_back(Fill(words.next, {NoAnswerNext(result.transferBaud, language)}));
    return lines;
  }
  const char* next = result.isp.RefusedForProtection()                      ? words.crpNext
                     : result.isp.status == IspStatus::LinesFailed          ? words.noLinesNext
                     : outcome == JobOutcome::IspEntryFailed && port.byHand ? words.byHandNext
                     : portHeld                                             ? words.portBusyNext
                     : portGroup                                            ? words.portGroupNext
                                 : OutcomeTable(language)[static_cast<size_t>(outcome)].next;
  if (*next != '\0') lines.push_back(Fill(words.next, {next}));
  return lines;
}

std::string FailureText(const JobResult& result, Language language, const PortFacts& port,
                        const std::string& board) {
  std::string text =
      "korvane-cli: " + (board.empty() ? "" : board + ": ") + SentenceOf(result, language) + "\n";
  for (const std::string& line : DetailLines(result, language, port)) text += "  " + line + "\n";
  return text;
}

std::string StepText(const JobStep& step, Language language) {
  const Words& words = WordsOf(language);
  switch (step.phase) {
    case JobPhase::Reset:
      return Fill(words.reset, {std::to_string(step.attempt), std::to_string(kHandshakeAttempts)});
    case JobPhase::Handshake:
      return words.handshake;
    case JobPhase::Erase:
      if (step.firstSector == step.lastSector)
        return Fill(words.eraseOne, {std::to_string(step.firstSector)});
      return Fill(words.erase, {std::to_string(step.firstSector), std::to_string(step.lastSector)});
    case JobPhase::ResetAgain:
      return words.resetAgain;
    case JobPhase::Transfer:
      return "";
    case JobPhase::Restart:
      return words.restart;
  }
  return "";
}

const char* BoardWordText(BoardWord word, Language language) {
  return WordsOf(language).boardWords[static_cast<size_t>(word)];
}

std::string RetryText(const JobResult& result, int attempt, int attempts, Language language) {
  return "korvane-cli: " +
         Fill(WordsOf(language).retry,
              {ShortText(result, language), std::to_string(attempt), std::to_string(attempts)}) +
         "\n";
}

}  // namespace korvane::cli
