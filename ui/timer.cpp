#include "ui/timer.h"

#include "ui/application.h"
#include "ui/window_class.h"

namespace korvane::ui {
namespace {
constexpr wchar_t kWindowClass[] = L"KorvaneTimer";
}

TTimer::TTimer() {
  RegisterWindowClass(kWindowClass, WndProc);
  handle_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TTimer::~TTimer() {
  KillTimer(handle_, Id());
  DestroyWindow(handle_);
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Update();
}

void TTimer::SetInterval(UINT milliseconds) {
  if (interval_ == milliseconds) return;
  interval_ = milliseconds;
  Update();
}

void TTimer::Update() {
  KillTimer(handle_, Id());
  if (enabled_ && interval_ > 0) SetTimer(handle_, Id(), interval_, nullptr);
}

LRESULT CALLBACK TTimer::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER) {
    auto* timer = reinterpret_cast<TTimer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    // A tick queued before the timer was switched off is dropped.
    if (timer != nullptr && wParam == timer->Id() && timer->enabled_ && timer->OnTimer) {
      Application->Invoke([timer] { timer->OnTimer(timer); });
    }
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace korvane::ui
