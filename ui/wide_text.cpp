#include "ui/wide_text.h"

#include <windows.h>

namespace korvane::ui {
namespace {

std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  std::wstring result(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, result.data(), wide);
  return result;
}

std::string FromWide(UINT codePage, const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int narrow =
      WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(narrow), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), size, result.data(), narrow, nullptr, nullptr);
  return result;
}

}  // namespace

std::wstring FromCp932(const std::string& text) {
  return ToWide(932, text);
}
std::string ToCp932(const std::wstring& text) {
  return FromWide(932, text);
}
std::string ToAnsi(const std::wstring& text) {
  return FromWide(CP_ACP, text);
}
std::wstring FromAnsi(const std::string& text) {
  return ToWide(CP_ACP, text);
}

}  // namespace korvane::ui
