#include "ui/application.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>

#include "ui/error_box_text.h"
#include "ui/form.h"
#include "ui/scope_exit.h"
#include "ui/wide_text.h"
#include "ui/window_class.h"

namespace korvane::ui {

TApplication* Application = nullptr;

namespace {

constexpr wchar_t kWindowClass[] = L"KorvaneApplication";

// The box being shown: placed over the main form, and above it while that form is a
// stay-on-top window, so that it is never hidden behind it.
HHOOK boxHook = nullptr;
HWND boxPlacedOver = nullptr;

LRESULT CALLBACK PlaceBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && boxPlacedOver != nullptr) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t className[16] = {};
    GetClassNameW(box, className, 16);
    if (wcscmp(className, L"#32770") == 0) {
      RECT boxRect, formRect;
      GetWindowRect(box, &boxRect);
      GetWindowRect(boxPlacedOver, &formRect);
      const int x =
          formRect.left + ((formRect.right - formRect.left) - (boxRect.right - boxRect.left)) / 2;
      const int y =
          formRect.top + ((formRect.bottom - formRect.top) - (boxRect.bottom - boxRect.top)) / 2;
      const bool onTop = (GetWindowLongW(boxPlacedOver, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      SetWindowPos(box, onTop ? HWND_TOPMOST : nullptr, std::max(0L, static_cast<long>(x)),
                   std::max(0L, static_cast<long>(y)), 0, 0,
                   SWP_NOSIZE | SWP_NOACTIVATE | (onTop ? 0 : SWP_NOZORDER));
      boxPlacedOver = nullptr;
    }
  }
  return CallNextHookEx(boxHook, code, wParam, lParam);
}

BOOL CALLBACK CollectEnabledWindow(HWND hwnd, LPARAM lParam) {
  if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
  }
  return TRUE;
}

}  // namespace

TApplication::TApplication() {
  if (Application == nullptr) Application = this;
}

TApplication::~TApplication() {
  if (handle_ != nullptr) DestroyWindow(handle_);
  if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS |
                                                         ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);

  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  // The path is in the system's code page: its own rule tells the double-byte characters.
  title_ = ApplicationTitle(path, [](unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; });

  RegisterWindowClass(kWindowClass, DefWindowProcW);
  if (handle_ == nullptr) {
    handle_ = CreateWindowExW(0, kWindowClass, FromAnsi(title_).c_str(), WS_POPUP, 0, 0, 0, 0,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  terminated_ = false;
}

void TApplication::FormCreated(TForm* form) {
  forms_.push_back(form);
  if (mainForm_ == nullptr) mainForm_ = form;
}

void TApplication::FormDestroyed(TForm* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
  if (mainForm_ == form) {
    mainForm_ = nullptr;
    Terminate();
  }
}

void TApplication::Run() {
  if (mainForm_ == nullptr) return;
  mainForm_->Show();
  while (!terminated_) {
    MSG msg;
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      terminated_ = true;
      break;
    }
    Dispatch(msg);
  }
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    Dispatch(msg);
  }
}

void TApplication::Dispatch(MSG& msg) {
  // Tab, Shift+Tab and the space bar move between and press the controls of a form.
  for (TForm* form : forms_) {
    if (form->Handle() != nullptr && IsDialogMessageW(form->Handle(), &msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

void TApplication::Terminate() {
  if (!terminated_) PostQuitMessage(0);
}

void TApplication::SetCursor(TCursor cursor) {
  cursor_ = cursor;
  if (const HCURSOR handle = CursorHandle()) ::SetCursor(handle);
}

HCURSOR TApplication::CursorHandle() const {
  switch (cursor_) {
    case TCursor::Arrow:
      return LoadCursorW(nullptr, IDC_ARROW);
    case TCursor::HourGlass:
      return LoadCursorW(nullptr, IDC_WAIT);
    case TCursor::Default:
      break;
  }
  return nullptr;
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  const HWND active = GetActiveWindow();
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow,
                    reinterpret_cast<LPARAM>(&disabled));
  for (HWND hwnd : disabled) EnableWindow(hwnd, FALSE);
  ++openBoxes_;
  const ScopeExit reenable([&] {
    --openBoxes_;
    for (HWND hwnd : disabled) EnableWindow(hwnd, TRUE);
    if (active != nullptr && IsWindow(active)) SetActiveWindow(active);
  });

  if (showBox) return showBox(handle_, text, caption, type);
  boxPlacedOver =
      mainForm_ != nullptr && IsWindowVisible(mainForm_->Handle()) ? mainForm_->Handle() : nullptr;
  boxHook = SetWindowsHookExW(WH_CBT, PlaceBox, nullptr, GetCurrentThreadId());
  const int result =
      ::MessageBoxW(handle_, FromCp932(text).c_str(), FromCp932(caption).c_str(), type);
  if (boxHook != nullptr) UnhookWindowsHookEx(boxHook);
  boxHook = nullptr;
  boxPlacedOver = nullptr;
  return result;
}

void TApplication::Beep(UINT type) {
  if (beep) {
    beep(type);
  } else {
    MessageBeep(type);
  }
}

void TApplication::ShowException(const std::string& message) {
  MessageBox(ErrorBoxText(message), title_, MB_OK | MB_ICONERROR);
}

void TApplication::Invoke(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& failure) {
    ShowException(failure.what());
  } catch (...) {
    ShowException("");
  }
}

}  // namespace korvane::ui
