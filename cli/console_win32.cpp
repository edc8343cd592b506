#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "cli/console.h"
#include "common/abort_flag.h"

namespace korvane::cli {

namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    Interrupted.Request();
    return TRUE;
  }
  return FALSE;
}

std::wstring Widen(const std::string& text, UINT codePage) {
  int count =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
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

namespace {

// UTF-8 text to a stream: a console shows it through its wide-character output, in any
// language; anything else gets the bytes.
bool WriteText(std::FILE* stream, DWORD handleId, const std::string& text) {
  HANDLE handle = GetStdHandle(handleId);
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    std::fflush(stream);
    const std::wstring wide = Widen(text, CP_UTF8);
    DWORD written = 0;
    return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) !=
           0;
  }
  // Redirected: the console's code page, or UTF-8 where that cannot hold the text.
  const UINT codePage = GetConsoleOutputCP() != 0 ? GetConsoleOutputCP() : GetACP();
  bool lossless = false;
  const std::string local =
      codePage == CP_UTF8 ? text : Narrow(Widen(text, CP_UTF8), codePage, &lossless);
  const std::string& bytes = codePage != CP_UTF8 && lossless ? local : text;
  const size_t sent = std::fwrite(bytes.data(), 1, bytes.size(), stream);
  return std::fflush(stream) == 0 && sent == bytes.size();
}

}  // namespace

void SystemConsole::Out(const std::string& text) {
  errno = 0;
  NoteOutResult(WriteText(stdout, STD_OUTPUT_HANDLE, text));
}

void SystemConsole::Err(const std::string& text) {
  WriteText(stderr, STD_ERROR_HANDLE, text);
}

Language SystemConsole::MessageLanguage() {
  const Language ui = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE
                          ? Language::Japanese
                          : Language::English;
  return LanguageFromEnvironment(EnvironmentValue, ui);
}

bool SystemConsole::ErrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

int SystemConsole::ErrRows() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Bottom - info.srWindow.Top + 1;
}

int SystemConsole::ErrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool SystemConsole::ErrCanRedraw() {
  // Windows 10 and later consoles take the escape sequences once asked to.
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

void SystemConsole::Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

Console::Input SystemConsole::ReadInput(uint32_t milliseconds, std::string* bytes) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return Input::Ended;
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) {
    // A console: the characters of the keys pressed.
    if (WaitForSingleObject(input, milliseconds) != WAIT_OBJECT_0) return Input::Nothing;
    DWORD pending = 0;
    if (!GetNumberOfConsoleInputEvents(input, &pending)) return Input::Ended;
    bool any = false;
    while (pending > 0) {
      INPUT_RECORD records[32];
      DWORD count = 0;
      if (!ReadConsoleInputA(input, records, pending < 32 ? pending : 32, &count) || count == 0)
        break;
      pending -= count;
      for (DWORD i = 0; i < count; ++i) {
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        if (records[i].EventType != KEY_EVENT || !key.bKeyDown || key.uChar.AsciiChar == 0)
          continue;
        bytes->append(key.wRepeatCount, key.uChar.AsciiChar);
        any = true;
      }
    }
    return any ? Input::Data : Input::Nothing;
  }
  char buffer[256];
  DWORD got = 0;
  if (GetFileType(input) == FILE_TYPE_PIPE) {
    // A pipe: only what is there, so that the wait stays bounded.
    DWORD available = 0;
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) return Input::Ended;
    if (available == 0) {
      ::Sleep(milliseconds);
      return Input::Nothing;
    }
    if (!ReadFile(input, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                  nullptr)) {
      return Input::Ended;
    }
  } else if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr)) {
    return Input::Ended;
  }
  if (got == 0) return Input::Ended;
  bytes->append(buffer, got);
  return Input::Data;
}

namespace {
DWORD savedInputMode = 0;
bool inputIsRaw = false;
}  // namespace

void SystemConsole::SetRawInput(bool on) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (on && !inputIsRaw && GetConsoleMode(input, &savedInputMode)) {
    // Processed input stays on: Ctrl-C still reaches the handler.
    SetConsoleMode(input,
                   savedInputMode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
    inputIsRaw = true;
  } else if (!on && inputIsRaw) {
    SetConsoleMode(input, savedInputMode);
    inputIsRaw = false;
  }
}

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::string Cp932ToUtf8(const std::string& cp932) {
  return Narrow(Widen(cp932, 932), CP_UTF8);
}

}  // namespace korvane::cli
