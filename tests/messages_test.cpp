// Each message is checked against its text as a reader sees it, decoded from code page
// 932 by the system's own converter.
#include "job/messages.h"

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
  int wide = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), text.data(), wide);
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

TEST(Messages, ReadAsTheirJapaneseTexts) {
  struct Case {
    const char* message;
    const char* text;
  } const cases[] = {
      {messages::kFileOpenFailed, "ファイルが開けませんでした"},
      {messages::kFileReadFailed, "ファイルの読み込みに失敗しました。"},
      {messages::kFileEmpty, ".binファイルのサイズが0です。書き込めません。"},
      {messages::kFileTooLarge, ".binファイルのサイズが大きすぎます。書き込めません。"},
      {messages::kPortOpenFailed, "COMポートが開けません。"},
      {messages::kCommunicationError, "通信中にエラーが発生しました"},
      {messages::kIspEntryFailed, "ISPモードに入れませんでした。"},
      {messages::kBaudChangeFailed, "ボーレート切り替えに失敗しました。"},
      {messages::kWrongChip, "指定以外のマイコンが装着されています。"},
      {messages::kEraseFailed, "フラッシュメモリの消去に失敗しました。"},
      {messages::kWriteAborted, "フラッシュメモリの書き込みを中断しました"},
      {messages::kWriteFailed, "プログラムの書き込みに失敗しました。"},
      {messages::kIspLeaveFailed, "ISPモードから抜けるのに失敗しました。"},
      {messages::kDeleteFailed, ".binファイルが消去できませんでした。"},
  };
  for (const Case& c : cases) EXPECT_EQ(Cp932ToUtf8(c.message), c.text);
}

}  // namespace
}  // namespace korvane
