#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/console.h"
#include "isp/job_flags.h"

namespace korvane::cli {

namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    AbortRequested = true;
    return TRUE;
  }
  return FALSE;
}

std::wstring Widen(const std::string& text, UINT codePage) {
  int count = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
  return wide;
}

// The text in codePage; false in *lossless when a character had no place in it.
std::string Narrow(const std::wstring& wide, UINT codePage, bool* lossless = nullptr) {
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPtr = codePage == CP_UTF8 || !lossless ? nullptr : &usedDefault;
  int count = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                  0, nullptr, usedDefaultPtr);
  std::string text(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), count,
                      nullptr, usedDefaultPtr);
  if (lossless) *lossless = count > 0 && !usedDefault;
  return text;
}

}  // namespace

void SystemConsole::JobMessage(const std::string& cp932) {
  std::wstring wide = Widen(cp932 + "\n", 932);
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    // A console shows the text in any language through its wide-character output.
    std::fflush(stderr);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  // Redirected: the console's code page, or UTF-8 where that cannot hold the text.
  UINT codePage = GetConsoleOutputCP();
  bool lossless = false;
  std::string text = Narrow(wide, codePage != 0 ? codePage : GetACP(), &lossless);
  Err(lossless ? text : Narrow(wide, CP_UTF8));
}

bool SystemConsole::ErrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void SystemConsole::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

std::string Cp932ToUtf8(const std::string& cp932) { return Narrow(Widen(cp932, 932), CP_UTF8); }

}  // namespace korvane::cli
