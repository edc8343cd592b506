// window_probe.exe: reads Korvane's windows from outside, for the end-to-end test of
// korvane.exe under Wine. Prints UTF-8 on stdout.
//   window_probe buttons          the captions of the main window's buttons, one a line
//   window_probe box SECONDS      waits for Korvane's message box and prints its text;
//                                 prints nothing if none came
//   window_probe ok               presses the OK button of Korvane's message box
//   window_probe text             the text of the main window's control that has the
//                                 keyboard focus; exit code 1 when none has it
//   window_probe type HEX         types the UTF-8 text given in hex into that control,
//                                 one WM_CHAR a UTF-16 unit, each sent and so handled
//                                 before the next: no character can be lost
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

void PrintUtf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size,
                      nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t text[1024] = {};
  GetWindowTextW(hwnd, text, 1024);
  return text;
}

BOOL CALLBACK PrintButton(HWND child, LPARAM) {
  if (_wcsicmp(ClassOf(child).c_str(), L"Button") == 0) PrintUtf8(TextOf(child));
  return TRUE;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM text) {
  if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0)
    *reinterpret_cast<std::wstring*>(text) += TextOf(child);
  return TRUE;
}

// The control of Korvane's main window that has the keyboard focus, or null.
HWND FocusedControl() {
  const HWND form = FindWindowW(L"TMainForm", L"Korvane");
  if (form == nullptr) return nullptr;
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &info)) return nullptr;
  return info.hwndFocus != nullptr && IsChild(form, info.hwndFocus) ? info.hwndFocus : nullptr;
}

std::wstring FromHexUtf8(const std::string& hex) {
  std::string utf8;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    utf8 += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  }
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "buttons") {
    const HWND form = FindWindowW(L"TMainForm", L"Korvane");
    if (form == nullptr) return 1;
    EnumChildWindows(form, PrintButton, 0);
    return 0;
  }
  if (command == "box" && argc > 2) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2]) * 1000);
    while (GetTickCount() < until) {
      const HWND box = FindWindowW(L"#32770", L"Korvane");
      if (box != nullptr && IsWindowVisible(box)) {
        std::wstring text;
        EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
        PrintUtf8(text);
        return 0;
      }
      Sleep(20);
    }
    return 0;
  }
  if (command == "ok") {
    const HWND box = FindWindowW(L"#32770", L"Korvane");
    if (box == nullptr) return 1;
    SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    return 0;
  }
  if (command == "text") {
    const HWND focused = FocusedControl();
    if (focused == nullptr) return 1;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(focused, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 10000, &length))
      return 1;
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(focused, WM_GETTEXT, text.size(),
                             reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 10000,
                             &copied)) {
      return 1;
    }
    text.resize(copied);
    PrintUtf8(text);
    return 0;
  }
  if (command == "type" && argc > 2) {
    const HWND focused = FocusedControl();
    if (focused == nullptr) return 1;
    for (const wchar_t unit : FromHexUtf8(argv[2])) {
      DWORD_PTR result = 0;
      if (!SendMessageTimeoutW(focused, WM_CHAR, unit, 1, SMTO_ABORTIFHUNG, 10000, &result))
        return 1;
    }
    return 0;
  }
  std::fputs("usage: window_probe buttons | box SECONDS | ok | text | type HEX\n", stderr);
  return 2;
}
