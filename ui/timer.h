// A periodic timer of Korvane's window layer. Switching it on starts a fresh period;
// switching it on while it is on keeps the running period; switching it off discards
// it. Each tick runs OnTimer once, on the thread that made the timer.
#pragma once

#include <windows.h>

#include "ui/controls.h"

namespace korvane::ui {

class TTimer : public TObject {
 public:
  TTimer();
  ~TTimer() override;
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  UINT Interval() const { return interval_; }
  void SetInterval(UINT milliseconds);

  TNotifyEvent OnTimer;

  // The window that receives the ticks (WM_TIMER with Id()), for tests that tick it.
  HWND Handle() const { return handle_; }
  UINT_PTR Id() const { return 1; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void Update();

  HWND handle_ = nullptr;
  bool enabled_ = false;
  UINT interval_ = 1000;
};

}  // namespace korvane::ui
