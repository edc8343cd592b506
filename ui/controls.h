// The controls of Korvane's window layer, thin classes over the Win32 controls:
// TLabel, TEdit, TUpDown, TButton, TCheckBox, TProgressBar and TStatusBar.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

namespace korvane::ui {

class TObject {
 public:
  virtual ~TObject() = default;
};

// An event handler; the sender is the control that raised the event.
using TNotifyEvent = std::function<void(TObject* sender)>;

class TForm;

// Position and size in pixels at 96 dots per inch.
struct TBounds {
  int left, top, width, height;
};

class TControl : public TObject {
 public:
  TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  HWND Handle() const { return handle_; }
  bool Enabled() const;
  void SetEnabled(bool enabled);
  bool Visible() const;
  void SetVisible(bool visible);
  // Drops the mouse and keyboard input for this control that waits in the queue.
  void DiscardPendingInput();
  // Position and size in the form's client area, in the system's pixels.
  RECT BoundsRect() const;
  void SetBoundsRect(const RECT& bounds);

  // A notification of the control (WM_COMMAND code) or its colours, sent to the form.
  virtual void Notify(WORD /*code*/) {}
  virtual HBRUSH TextColors(HDC /*dc*/) { return nullptr; }

 protected:
  void CreateHandle(TForm* owner, const wchar_t* className, const std::wstring& text, DWORD style,
                    DWORD exStyle, TBounds bounds);
  // Runs a handler through the application, so that a failure in it is shown.
  void Raise(const TNotifyEvent& handler);

  HWND handle_ = nullptr;
  TForm* owner_ = nullptr;
};

// Static text that sizes itself to its text.
class TLabel : public TControl {
 public:
  void Create(TForm* owner, int left, int top, const std::string& caption);
  std::string Caption() const;
};

// A single-line edit box. Its text is in the system's code page.
class TEdit : public TControl {
 public:
  void Create(TForm* owner, TBounds bounds, const std::string& text);
  std::string Text() const;
  std::wstring WideText() const;
  // Sets the text; the change event follows when the text is different.
  void SetText(const std::string& text);
  void SetWideText(const std::wstring& text);
  // At most this many characters, typed or pasted; 0 for no limit.
  void SetMaxLength(int length);
  // CLR_DEFAULT: the system's window-text colour.
  void SetFontColor(COLORREF color);
  COLORREF FontColor() const { return fontColor_; }

  // Runs on every change of the text: typed, pasted, set from code, set by a spinner.
  TNotifyEvent OnChange;

  void Notify(WORD code) override;
  HBRUSH TextColors(HDC dc) override;

 private:
  COLORREF fontColor_ = CLR_DEFAULT;
};

// An up-down spinner bound to an edit box: writes its position into the box as
// decimal text; the up and down arrow keys in the box step it as well; no wrap-around.
class TUpDown : public TControl {
 public:
  void Create(TForm* owner, TBounds bounds, TEdit* associate, int min, int max, int position);
  int Position() const;
};

class TButton : public TControl {
 public:
  void Create(TForm* owner, TBounds bounds, const std::string& caption);
  // Shift-JIS.
  void SetCaption(const std::string& caption);
  std::string Caption() const;

  TNotifyEvent OnClick;
  void Notify(WORD code) override;
};

// A check box. Setting its state from code runs OnClick as a click does, but only when
// the state changes.
class TCheckBox : public TControl {
 public:
  void Create(TForm* owner, TBounds bounds, const std::string& caption);
  bool Checked() const;
  void SetChecked(bool checked);
  std::string Caption() const;

  TNotifyEvent OnClick;
  void Notify(WORD code) override;
};

class TProgressBar : public TControl {
 public:
  void Create(TForm* owner, TBounds bounds, int min, int max);
  int Position() const;
  void SetPosition(int position);
};

// A status bar along the bottom edge with one simple panel.
class TStatusBar : public TControl {
 public:
  void Create(TForm* owner);
  // Shift-JIS.
  void SetSimpleText(const std::string& text);
  std::string SimpleText() const;
};

}  // namespace korvane::ui
