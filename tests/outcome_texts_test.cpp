#include "cli/outcome_texts.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>

#include "cli/console.h"

namespace korvane::cli {
namespace {

TEST(OutcomeTexts, EachLanguageHasATextForEveryOutcome) {
  for (const Language language : {Language::English, Language::Japanese}) {
    const std::vector<OutcomeText>& table = OutcomeTable(language);
    ASSERT_EQ(table.size(), std::size(kAllOutcomes));
    for (size_t i = 0; i < table.size(); ++i) {
      EXPECT_EQ(table[i].outcome, kAllOutcomes[i]) << i;
      EXPECT_EQ(*table[i].sentence == '\0', kAllOutcomes[i] == JobOutcome::Success) << i;
    }
  }
  // In Japanese, korvane-cli says what the window says.
  for (const OutcomeText& text : OutcomeTable(Language::Japanese)) {
    // (Verify, read and serial numbers are korvane-cli's own.)
    if (text.outcome == JobOutcome::Success || text.outcome == JobOutcome::VerifyFailed ||
        text.outcome == JobOutcome::ReadFailed || text.outcome == JobOutcome::SerialNumberFailed) {
      continue;
    }
    EXPECT_EQ(text.sentence, Cp932ToUtf8(MessageOf(text.outcome)));
  }
}

JobResult Refused(JobOutcome outcome, const char* command, uint32_t code) {
  JobResult result(outcome);
  result.isp.status = IspStatus::Refused;
  result.isp.command = command;
  result.isp.code = code;
  return result;
}

TEST(OutcomeTexts, FailuresTellTheirDetailsAndANextStepInBothLanguages) {
  struct Case {
    const char* name;
    std::function<JobResult()> make;
    PortFacts port;
    std::string english, japanese;
  } const cases[] = {
      {"missing file",
       [] {
         JobResult r(JobOutcome::FileOpenFailed);
         r.file = "app.bin";
         r.systemError = "No such file or directory";
         return r;
       },
       {},
       "korvane-cli: cannot open the file\n  file: app.bin (No such file or directory)\n"
       "  next: check the file's name and folder\n",
       "korvane-cli: ファイルが開けませんでした\n  ファイル: app.bin（No such file or directory）\n"
       "  次の手順: ファイル名とフォルダを確かめてください\n"},
      {"40 KB file",
       [] {
         JobResult r(JobOutcome::FileTooLarge);
         r.file = "big.bin";
         r.fileSize = 40960;
         return r;
       },
       {},
       "korvane-cli: the image is larger than the chip's flash\n  file: big.bin\n"
       "  size: 40960 bytes; the flash holds 32768\n  next: link the program for the chip's flash "
       "(korvane-cli --list-parts tells each part's)\n",
       "korvane-cli: .binファイルのサイズが大きすぎます。書き込めません。\n  ファイル: big.bin\n"
       "  サイズ: 40960 バイト（フラッシュは 32768 バイト）\n"
       "  次の手順: チップのフラッシュに収まるようにリンクしてください（各パーツの容量は "
       "korvane-cli "
       "--list-parts で分かります）\n"},
      {"an image beyond the chip's flash, found after J",
       [] {
         JobResult r(JobOutcome::FileTooLarge);
         r.fileSize = 40000;
         r.flashSize = 16384;
         return r;
       },
       {},
       "korvane-cli: the image is larger than the chip's flash\n"
       "  size: 40000 bytes; the flash holds 16384\n  next: link the program for the chip's flash "
       "(korvane-cli --list-parts tells each part's)\n",
       "korvane-cli: .binファイルのサイズが大きすぎます。書き込めません。\n"
       "  サイズ: 40000 バイト（フラッシュは 16384 バイト）\n"
       "  次の手順: チップのフラッシュに収まるようにリンクしてください（各パーツの容量は "
       "korvane-cli "
       "--list-parts で分かります）\n"},
      {"wrong chip",
       [] {
         JobResult r(JobOutcome::WrongChip);
         r.partId = 0x0444102C;
         return r;
       },
       {},
       "korvane-cli: the chip is not the part expected\n"
       "  part ID read: 0x0444102C; accepted: LPC1114FN28/102 (0x0A40902B, 0x1A40902B)\n"
       "  next: check the board; korvane-cli --list-parts lists the parts Korvane writes, and "
       "--part names the one a board must be\n",
       "korvane-cli: 指定以外のマイコンが装着されています。\n"
       "  読み取った品番ID: 0x0444102C（受け付けるのは LPC1114FN28/102 (0x0A40902B, 0x1A40902B)）\n"
       "  次の手順: ボードを確かめてください。Korvane が書き込めるパーツは korvane-cli "
       "--list-parts "
       "で分かり、--part でボードのパーツを指定できます\n"},
      {"refused copy",
       [] {
         JobResult r = Refused(JobOutcome::WriteFailed, "C 1024 268436224 1024", 9);
         r.address = 1024;
         return r;
       },
       {},
       "korvane-cli: writing the program failed\n  the block at 0x00000400: the boot loader "
       "answered "
       "C 1024 268436224 1024 with SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION (9)\n"
       "  next: write again; if it fails again at the same block, try a lower --baud\n",
       "korvane-cli: プログラムの書き込みに失敗しました。\n  ブロック 0x00000400: ブートローダーが "
       "C 1024 268436224 1024 に SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION (9) と応答しました\n"
       "  次の手順: 書き込み直してください。同じブロックでまた失敗するなら --baud "
       "で低いレートを試してください\n"},
      {"no answer",
       [] {
         JobResult r(JobOutcome::IspEntryFailed);
         r.isp.status = IspStatus::TimedOut;
         r.isp.command = "?";
         r.isp.awaited = "Synchronized";
         r.attempts = 5;
         return r;
       },
       {"/dev/ttyUSB0", ""},
       "korvane-cli: the chip's boot loader did not answer\n"
       "  no answer to ? in time (awaited \"Synchronized\"), after 5 attempts\n"
       "  next: check the wiring (by default RTS drives the ISP pin and DTR the reset; see "
       "--reset), that the "
       "board has power, and that TX and RX are crossed\n",
       "korvane-cli: ISPモードに入れませんでした。\n"
       "  ? に時間内の応答がありません（待っていた応答: \"Synchronized\"）（5 回試行）\n"
       "  次の手順: 配線（既定では RTS が ISP 端子を、DTR がリセットを駆動します。--reset "
       "を参照）、ボードの電源、TX と RX "
       "の交差を確かめてください\n"},
      {"garbled answer to the baud rate",
       [] {
         JobResult r(JobOutcome::BaudChangeFailed);
         r.isp.status = IspStatus::Garbled;
         r.isp.command = "B 115200 1";
         r.isp.awaited = "0";
         r.isp.received = "\xEF\xBF\xBD";
         r.transferBaud = 115200;
         return r;
       },
       {},
       "korvane-cli: the boot loader did not change its baud rate\n"
       "  the answer to B 115200 1 was \"\xEF\xBF\xBD\" (awaited \"0\") (asked for 115200 baud)\n"
       "  next: try a lower --baud\n",
       "korvane-cli: ボーレート切り替えに失敗しました。\n"
       "  B 115200 1 への応答が \"\xEF\xBF\xBD\" でした（待っていた応答: \"0\"）（115200 "
       "ボーを指定）\n"
       "  次の手順: --baud で低いレートを試してください\n"},
      {"port refused",
       [] { return JobResult(JobOutcome::PortOpenFailed); },
       {"/dev/ttyUSB0", "cannot open: Permission denied"},
       "korvane-cli: cannot open the serial port\n  port: /dev/ttyUSB0: cannot open: Permission "
       "denied\n"
       "  next: korvane-cli --list-ports lists the ports present; on Linux the user must be in "
       "the device's group (ls -l shows it; dialout on Debian)\n",
       "korvane-cli: COMポートが開けません。\n  ポート: /dev/ttyUSB0: cannot open: Permission "
       "denied\n"
       "  次の手順: korvane-cli --list-ports で今あるポートが分かります。Linux "
       "ではデバイスのグループ"
       "（ls -l で分かります。Debian では dialout）に入っている必要があります\n"},
      {"a port another program holds",
       [] { return JobResult(JobOutcome::PortOpenFailed); },
       {"/dev/ttyUSB0", "in use by another program: pid 4242 (minicom -D /dev/ttyUSB0)"},
       "korvane-cli: cannot open the serial port\n"
       "  port: /dev/ttyUSB0: in use by another program: pid 4242 (minicom -D /dev/ttyUSB0)\n"
       "  next: end the program named above (a terminal program, ModemManager, another "
       "korvane-cli), or wait for it to end, and write again\n",
       "korvane-cli: COMポートが開けません。\n"
       "  ポート: /dev/ttyUSB0: in use by another program: pid 4242 (minicom -D /dev/ttyUSB0)\n"
       "  次の手順: 上に示したプログラム（端末プログラム、ModemManager、別の korvane-cli "
       "など）を終了するか、終わるのを待ってから書き込み直してください\n"},
      {"a port whose group the user is not in",
       [] { return JobResult(JobOutcome::PortOpenFailed); },
       {"/dev/ttyUSB0",
        "cannot open: Permission denied; /dev/ttyUSB0 belongs to group dialout: add yourself "
        "with \"sudo usermod -aG dialout ana\", then log in again"},
       "korvane-cli: cannot open the serial port\n"
       "  port: /dev/ttyUSB0: cannot open: Permission denied; /dev/ttyUSB0 belongs to group "
       "dialout: add yourself with \"sudo usermod -aG dialout ana\", then log in again\n"
       "  next: join the group named above as it says, then log in again\n",
       "korvane-cli: COMポートが開けません。\n"
       "  ポート: /dev/ttyUSB0: cannot open: Permission denied; /dev/ttyUSB0 belongs to group "
       "dialout: add yourself with \"sudo usermod -aG dialout ana\", then log in again\n"
       "  次の手順: 上に示したとおりグループに加わり、ログインし直してください\n"},
      {"a port without modem lines",
       [] {
         JobResult r(JobOutcome::IspEntryFailed);
         r.isp.command = "?";
         r.isp.status = IspStatus::LinesFailed;
         return r;
       },
       {"/dev/pts/3", "set RTS: Inappropriate ioctl for device"},
       "korvane-cli: the chip's boot loader did not answer\n"
       "  the port did not move RTS and DTR for the reset\n"
       "  port: /dev/pts/3: set RTS: Inappropriate ioctl for device\n"
       "  next: this port cannot move RTS and DTR (a pseudo-terminal and some adapters have no "
       "modem lines): reset the board into its boot loader by hand with --reset none\n",
       "korvane-cli: ISPモードに入れませんでした。\n"
       "  ポートがリセットのための RTS と DTR を動かせませんでした\n"
       "  ポート: /dev/pts/3: set RTS: Inappropriate ioctl for device\n"
       "  次の手順: このポートは RTS と DTR "
       "を動かせません（疑似端末や一部のアダプタにはモデム制御線"
       "がありません）。--reset none で、ボードを手でブートローダーへリセットしてください\n"},
      {"no answer to a reset by hand, after the whole flash was erased",
       [] {
         JobResult r(JobOutcome::IspEntryFailed);
         r.isp.command = "?";
         r.isp.status = IspStatus::TimedOut;
         r.isp.awaited = "Synchronized";
         r.attempts = 5;
         r.flashErased = true;
         return r;
       },
       {"/dev/ttyUSB0", "", true},
       "korvane-cli: the chip's boot loader did not answer\n"
       "  no answer to ? in time (awaited \"Synchronized\"), after 5 attempts\n"
       "  done so far: the whole flash is erased (the code read protection it held ends at the "
       "chip's next reset); nothing is written yet\n"
       "  next: hold the ISP button while you reset the board (the boot loader is looked for 5 "
       "times, 2 s each); check that the board has power and that TX and RX are crossed\n",
       "korvane-cli: ISPモードに入れませんでした。\n"
       "  ? に時間内の応答がありません（待っていた応答: \"Synchronized\"）（5 回試行）\n"
       "  ここまでに済んだこと: "
       "フラッシュ全体を消去しました（かかっていたコードリードプロテクションは"
       "チップの次のリセットで解除されます）。まだ何も書き込んでいません\n"
       "  次の手順: ISP ボタンを押したままボードをリセットしてください（ブートローダーを 2 秒ずつ "
       "5 "
       "回待ちます）。ボードの電源と、TX と RX の交差も確かめてください\n"},
      {"an answer that is no text",
       [] {
         JobResult r(JobOutcome::WrongChip);
         r.isp.command = "J";
         r.partIdLine = "\xFF\x1B[2J";
         return r;
       },
       {},
       "korvane-cli: the chip is not the part expected\n"
       "  the answer to J was \"\\xFF\\x1B[2J\", not a part ID\n"
       "  next: check the board; korvane-cli --list-parts lists the parts Korvane writes, and "
       "--part names the one a board must be\n",
       "korvane-cli: 指定以外のマイコンが装着されています。\n"
       "  J への応答が \"\\xFF\\x1B[2J\" で、品番IDではありません\n"
       "  次の手順: ボードを確かめてください。Korvane が書き込めるパーツは korvane-cli "
       "--list-parts "
       "で分かり、--part でボードのパーツを指定できます\n"},
      {"aborted",
       [] { return JobResult(JobOutcome::Aborted); },
       {},
       "korvane-cli: the write was aborted\n",
       "korvane-cli: フラッシュメモリの書き込みを中断しました\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FailureText(c.make(), Language::English, c.port), c.english) << c.name;
    EXPECT_EQ(FailureText(c.make(), Language::Japanese, c.port), c.japanese) << c.name;
  }
}

TEST(OutcomeTexts, TheShortTextNamesTheReturnCode) {
  const JobResult refused = Refused(JobOutcome::EraseFailed, "E 0 7", 19);
  EXPECT_EQ(ShortText(refused, Language::English),
            "erasing the flash failed: CODE_READ_PROTECTION_ENABLED (19)");
  EXPECT_EQ(ShortText(refused, Language::Japanese),
            "フラッシュメモリの消去に失敗しました。: CODE_READ_PROTECTION_ENABLED (19)");
  EXPECT_EQ(
      ShortText(Refused(JobOutcome::WriteFailed, "C 0 268436224 1024", 42), Language::English),
      "writing the program failed: return code 42");
  EXPECT_EQ(ShortText(JobOutcome::IspEntryFailed, Language::English),
            "the chip's boot loader did not answer");
}

TEST(OutcomeTexts, StepsAsTheyBegin) {
  const std::map<std::pair<int, bool>, std::string> expected = {
      {{0, false}, "resetting into the boot loader (attempt 2 of 5)"},
      {{0, true}, "ブートローダーへリセットしています（5 回中 2 回目）"},
      {{1, false}, "erasing sectors 0-7"},
      {{1, true}, "セクタ 0-7 を消去しています"},
      {{2, false}, "erasing sector 3"},
      {{3, false}, ""},
  };
  const JobStep steps[] = {{JobPhase::Reset, 2},
                           {JobPhase::Erase, 0, 0, 7},
                           {JobPhase::Erase, 0, 3, 3},
                           {JobPhase::Transfer}};
  for (const auto& [key, text] : expected) {
    const Language language = key.second ? Language::Japanese : Language::English;
    EXPECT_EQ(StepText(steps[key.first], language), text);
  }
}

TEST(Language, ComesFromTheFirstVariableSet) {
  struct Case {
    std::map<std::string, std::string> environment;
    Language fallback;
    Language expected;
  } const cases[] = {
      {{}, Language::English, Language::English},
      {{}, Language::Japanese, Language::Japanese},  // on Windows: the UI language
      {{{"LANG", "C"}}, Language::Japanese, Language::English},
      {{{"LANG", "ja_JP.UTF-8"}}, Language::English, Language::Japanese},
      {{{"LANG", "ja_JP.UTF-8"}, {"LC_MESSAGES", "POSIX"}}, Language::English, Language::English},
      {{{"LANG", "en_US.UTF-8"}, {"LC_ALL", "ja_JP.eucJP"}}, Language::English, Language::Japanese},
      {{{"LANG", "ja"}, {"LC_ALL", ""}}, Language::English, Language::Japanese},
      {{{"LANG", "jv_ID"}}, Language::English, Language::English},
  };
  for (const Case& c : cases) {
    const auto get = [&c](const char* name) {
      const auto found = c.environment.find(name);
      return found == c.environment.end() ? std::string() : found->second;
    };
    EXPECT_EQ(LanguageFromEnvironment(get, c.fallback), c.expected);
  }
}

}  // namespace
}  // namespace korvane::cli
