// Each message is checked against its text as a reader sees it, decoded from code page
// 932 by the system's own converter.
#include "job/messages.h"
#include "job/outcome.h"
#include "ui/ui_texts.h"

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace korvane {
namespace {

std::string Cp932ToUtf8(const std::string& bytes) {
#ifdef _WIN32
  int wide = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(),
                                 static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                      text.data(), wide);
  int narrow = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(narrow), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, utf8.data(), narrow, nullptr, nullptr);
  return utf8;
#else
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "(no converter)";
  std::string in = bytes;
  std::string out(in.size() * 3 + 4, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<size_t>(-1)) return "(invalid)";
  out.resize(out.size() - outLeft);
  return out;
#endif
}

// Every outcome of a job has its message, as the user reads it.
TEST(Messages, EachOutcomeReadsAsItsJapaneseText) {
  struct Case {
    JobOutcome outcome;
    const char* text;
  } const cases[] = {
      {JobOutcome::FileOpenFailed, "ファイルが開けませんでした"},
      {JobOutcome::FileReadFailed, "ファイルの読み込みに失敗しました。"},
      {JobOutcome::FileEmpty, ".binファイルのサイズが0です。書き込めません。"},
      {JobOutcome::FileTooLarge, ".binファイルのサイズが大きすぎます。書き込めません。"},
      {JobOutcome::PortOpenFailed, "COMポートが開けません。"},
      {JobOutcome::CommunicationError, "通信中にエラーが発生しました"},
      {JobOutcome::IspEntryFailed, "ISPモードに入れませんでした。"},
      {JobOutcome::BaudChangeFailed, "ボーレート切り替えに失敗しました。"},
      {JobOutcome::WrongChip, "指定以外のマイコンが装着されています。"},
      {JobOutcome::EraseFailed, "フラッシュメモリの消去に失敗しました。"},
      {JobOutcome::Aborted, "フラッシュメモリの書き込みを中断しました"},
      {JobOutcome::WriteFailed, "プログラムの書き込みに失敗しました。"},
      {JobOutcome::IspLeaveFailed, "ISPモードから抜けるのに失敗しました。"},
      {JobOutcome::DeleteFailed, ".binファイルが消去できませんでした。"},
  };
  for (const Case& c : cases) EXPECT_EQ(Cp932ToUtf8(MessageOf(c.outcome)), c.text);
  EXPECT_EQ(MessageOf(JobOutcome::Success), "");
  JobResult verify(JobOutcome::VerifyFailed);
  verify.address = 0x4A0;
  EXPECT_EQ(MessageOf(verify), "verify failed: the flash differs from the image at 0x000004A0");
}

TEST(WindowTexts, ReadAsTheirJapaneseTexts) {
  namespace t = ui::texts;
  struct Case {
    const char* bytes;
    const char* text;
  } const cases[] = {
      {t::kFormCaption, "Korvane"},
      {t::kFontName, "ＭＳ Ｐゴシック"},
      {t::kLabel1, "COM番号"},
      {t::kLabel2, ".binファイル"},
      {t::kLabel3, "Korvane Ver. 0.10"},
      {t::kLabel6,
       "これは、LPC1114FN28/102のフラッシュメモリに.bin形式のファイルを書き込むソフトです。"},
      {t::kBrowseCaption, "参照..."},
      {t::kWriteCaption, "書き込む"},
      {t::kAbortCaption, "書き込み中止"},
      {t::kDeleteOption, "フラッシュメモリへの書き込みが出来たら、.binファイルを消去する"},
      {t::kAutoWriteOption, "指定の.binファイルを見つけたら自動的に書き込む"},
      {t::kBinFilter, "BINファイル(*.bin)|*.bin"},
      {t::kPromptText,
       "COM番号と、書き込む.binファイルを選んで、「書き込む」ボタンをクリックしてください。"},
      {t::kWaitingText, "指定の.binファイルが書き込まれるのを待っています。"},
      {t::kWritingText, "プログラムを書き込んでいます。"},
      {t::kInvalidComNumber, "COM番号が不正です"},
  };
  for (const Case& c : cases) EXPECT_EQ(Cp932ToUtf8(c.bytes), c.text);
  // The project's own lines name Korvane and where its documentation is.
  EXPECT_EQ(Cp932ToUtf8(t::kLabel4), "Korvane プロジェクト");
  EXPECT_EQ(Cp932ToUtf8(t::kLabel5), "説明書: 配布物の README.md");
}

}  // namespace
}  // namespace korvane
