// window_probe.exe: reads Korvane's windows from outside, for the end-to-end test of
// korvane.exe under Wine. Prints UTF-8 on stdout.
//   window_probe buttons          the captions of the main window's buttons, one a line
//   window_probe box SECONDS      waits for Korvane's message box and prints its text;
//                                 prints nothing if none came
//   window_probe ok               presses the OK button of Korvane's message box
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

void PrintUtf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size, nullptr,
                      nullptr);
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
  if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0) *reinterpret_cast<std::wstring*>(text) += TextOf(child);
  return TRUE;
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
  std::fputs("usage: window_probe buttons | box SECONDS | ok\n", stderr);
  return 2;
}
