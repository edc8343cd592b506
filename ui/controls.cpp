#include "ui/controls.h"

#include <commctrl.h>

#include "ui/application.h"
#include "ui/form.h"
#include "ui/wide_text.h"

namespace korvane::ui {
namespace {

std::wstring WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(copied));
  return text;
}

// The size of text in a font, on the screen of a window.
SIZE TextExtent(HWND hwnd, HFONT font, const std::wstring& text) {
  const HDC dc = GetDC(hwnd);
  const HGDIOBJ old = SelectObject(dc, font);
  SIZE size = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return size;
}

}  // namespace

bool TControl::Enabled() const {
  return IsWindowEnabled(handle_) != FALSE;
}

void TControl::SetEnabled(bool enabled) {
  EnableWindow(handle_, enabled ? TRUE : FALSE);
}

bool TControl::Visible() const {
  return (GetWindowLongW(handle_, GWL_STYLE) & WS_VISIBLE) != 0;
}

void TControl::SetVisible(bool visible) {
  ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE);
}

void TControl::DiscardPendingInput() {
  MSG msg;
  while (PeekMessageW(&msg, handle_, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  while (PeekMessageW(&msg, handle_, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
}

RECT TControl::BoundsRect() const {
  RECT bounds = {};
  GetWindowRect(handle_, &bounds);
  MapWindowPoints(nullptr, GetParent(handle_), reinterpret_cast<POINT*>(&bounds), 2);
  return bounds;
}

void TControl::SetBoundsRect(const RECT& bounds) {
  SetWindowPos(handle_, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
               bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TControl::CreateHandle(TForm* owner, const wchar_t* className, const std::wstring& text,
                            DWORD style, DWORD exStyle, TBounds bounds) {
  owner_ = owner;
  const int id = owner->AddControl(this);
  handle_ = CreateWindowExW(exStyle, className, text.c_str(), style | WS_CHILD,
                            owner->Scale(bounds.left), owner->Scale(bounds.top),
                            owner->Scale(bounds.width), owner->Scale(bounds.height),
                            owner->Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            GetModuleHandleW(nullptr), nullptr);
  SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(owner->Font()), FALSE);
}

void TControl::Raise(const TNotifyEvent& handler) {
  if (!handler) return;
  Application->Invoke([&] { handler(this); });
}

void TLabel::Create(TForm* owner, int left, int top, const std::string& caption) {
  const std::wstring text = FromCp932(caption);
  CreateHandle(owner, L"STATIC", text, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, {left, top, 0, 0});
  // As wide and high as its text in the form's font, whatever font the system gave.
  const SIZE size = TextExtent(handle_, owner->Font(), text);
  SetWindowPos(handle_, nullptr, 0, 0, size.cx, size.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string TLabel::Caption() const {
  return ToCp932(WindowText(handle_));
}

void TEdit::Create(TForm* owner, TBounds bounds, const std::string& text) {
  CreateHandle(owner, L"EDIT", FromAnsi(text), WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
               WS_EX_CLIENTEDGE, bounds);
}

std::wstring TEdit::WideText() const {
  return WindowText(handle_);
}

std::string TEdit::Text() const {
  return ToAnsi(WideText());
}

void TEdit::SetText(const std::string& text) {
  SetWideText(FromAnsi(text));
}

void TEdit::SetWideText(const std::wstring& text) {
  // The edit control tells the change itself (EN_CHANGE), set from code or not.
  if (WideText() != text) SetWindowTextW(handle_, text.c_str());
}

void TEdit::SetMaxLength(int length) {
  SendMessageW(handle_, EM_LIMITTEXT, static_cast<WPARAM>(length), 0);
}

void TEdit::SetFontColor(COLORREF color) {
  if (fontColor_ == color) return;
  fontColor_ = color;
  InvalidateRect(handle_, nullptr, TRUE);
}

void TEdit::Notify(WORD code) {
  if (code == EN_CHANGE) Raise(OnChange);
}

HBRUSH TEdit::TextColors(HDC dc) {
  if (fontColor_ == CLR_DEFAULT) return nullptr;
  SetTextColor(dc, fontColor_);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

void TUpDown::Create(TForm* owner, TBounds bounds, TEdit* associate, int min, int max,
                     int position) {
  CreateHandle(owner, UPDOWN_CLASSW, L"",
               WS_VISIBLE | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0, bounds);
  SendMessageW(handle_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(associate->Handle()), 0);
  SendMessageW(handle_, UDM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
  // One step per click or key press, however long it is held.
  UDACCEL step = {0, 1};
  SendMessageW(handle_, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
  SendMessageW(handle_, UDM_SETPOS32, 0, static_cast<LPARAM>(position));
}

int TUpDown::Position() const {
  return static_cast<int>(SendMessageW(handle_, UDM_GETPOS32, 0, 0));
}

void TButton::Create(TForm* owner, TBounds bounds, const std::string& caption) {
  CreateHandle(owner, L"BUTTON", FromCp932(caption), WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0,
               bounds);
}

void TButton::SetCaption(const std::string& caption) {
  SetWindowTextW(handle_, FromCp932(caption).c_str());
}

std::string TButton::Caption() const {
  return ToCp932(WindowText(handle_));
}

void TButton::Notify(WORD code) {
  if (code == BN_CLICKED) Raise(OnClick);
}

void TCheckBox::Create(TForm* owner, TBounds bounds, const std::string& caption) {
  const std::wstring text = FromCp932(caption);
  CreateHandle(owner, L"BUTTON", text, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, bounds);
  // At least as wide as its box and text in the form's font, which at another dpi or in
  // another font than the layout's can be wider than the given width.
  const SIZE size = TextExtent(handle_, owner->Font(), text);
  const int needed = size.cx + GetSystemMetrics(SM_CXMENUCHECK) + owner->Scale(8);
  RECT rect = BoundsRect();
  if (rect.right - rect.left < needed) {
    rect.right = rect.left + needed;
    SetBoundsRect(rect);
  }
}

bool TCheckBox::Checked() const {
  return SendMessageW(handle_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool checked) {
  if (Checked() == checked) return;
  SendMessageW(handle_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  Raise(OnClick);
}

std::string TCheckBox::Caption() const {
  return ToCp932(WindowText(handle_));
}

void TCheckBox::Notify(WORD code) {
  // A click, the space bar or BM_CLICK: the box has already taken its new state.
  if (code == BN_CLICKED) Raise(OnClick);
}

void TProgressBar::Create(TForm* owner, TBounds bounds, int min, int max) {
  CreateHandle(owner, PROGRESS_CLASSW, L"", WS_VISIBLE, 0, bounds);
  SendMessageW(handle_, PBM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
  SendMessageW(handle_, PBM_SETPOS, static_cast<WPARAM>(min), 0);
}

int TProgressBar::Position() const {
  return static_cast<int>(SendMessageW(handle_, PBM_GETPOS, 0, 0));
}

void TProgressBar::SetPosition(int position) {
  SendMessageW(handle_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TStatusBar::Create(TForm* owner) {
  CreateHandle(owner, STATUSCLASSNAMEW, L"", WS_VISIBLE | CCS_BOTTOM, 0, {0, 0, 0, 0});
  // One panel across the whole width (Wine does not read back a simple-mode text).
  int rightEdges[1] = {-1};
  SendMessageW(handle_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(rightEdges));
}

void TStatusBar::SetSimpleText(const std::string& text) {
  SendMessageW(handle_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(FromCp932(text).c_str()));
}

std::string TStatusBar::SimpleText() const {
  const auto length = LOWORD(SendMessageW(handle_, SB_GETTEXTLENGTHW, 0, 0));
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(handle_, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
  text.resize(wcslen(text.c_str()));
  return ToCp932(text);
}

}  // namespace korvane::ui
