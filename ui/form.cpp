#include "ui/form.h"

#include <algorithm>

#include "ui/application.h"
#include "ui/wide_text.h"
#include "ui/window_class.h"

namespace korvane::ui {
namespace {

constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL, which nothing here has
constexpr DWORD kFormStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool HasJapaneseFont(HDC dc, const std::wstring& face) {
  LOGFONTW query = {};
  query.lfCharSet = SHIFTJIS_CHARSET;
  wcsncpy(query.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  bool found = false;
  EnumFontFamiliesExW(dc, &query, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

}  // namespace

TForm::TForm() {
  if (Application != nullptr) Application->FormCreated(this);
}

TForm::~TForm() {
  if (handle_ != nullptr) {
    SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
  }
  if (font_ != nullptr) DeleteObject(font_);
  if (Application != nullptr) Application->FormDestroyed(this);
}

int TForm::Scale(int pixels) const {
  return MulDiv(pixels, dpi_, 96);
}

void TForm::ChooseFont(const std::string& face, int height) {
  const HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  // The face asked for; else the Japanese UI fonts of Windows; else one that Wine
  // offers on Linux; else whatever font the system has for Shift-JIS.
  const std::wstring candidates[] = {
      FromCp932(face), L"MS PGothic", L"MS UI Gothic",     L"Meiryo UI",  L"Yu Gothic UI",
      L"VL PGothic",   L"VL Gothic",  L"Noto Sans CJK JP", L"IPAPGothic", L"TakaoPGothic"};
  fontFace_.clear();
  for (const std::wstring& candidate : candidates) {
    if (HasJapaneseFont(screen, candidate)) {
      fontFace_ = candidate;
      break;
    }
  }
  ReleaseDC(nullptr, screen);

  LOGFONTW font = {};
  font.lfHeight = -Scale(height);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = SHIFTJIS_CHARSET;
  font.lfQuality = DEFAULT_QUALITY;
  wcsncpy(font.lfFaceName, fontFace_.c_str(), LF_FACESIZE - 1);
  font_ = CreateFontIndirectW(&font);
}

void TForm::CreateForm(const wchar_t* className, const std::string& caption, int clientWidth,
                       int clientHeight, const std::string& fontFace, int fontHeight) {
  ChooseFont(fontFace, fontHeight);

  RegisterWindowClass(className, StaticWndProc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                      LoadCursorW(nullptr, IDC_ARROW));

  RECT rect = {0, 0, Scale(clientWidth), Scale(clientHeight)};
  AdjustWindowRectEx(&rect, kFormStyle, FALSE, WS_EX_APPWINDOW);
  handle_ =
      CreateWindowExW(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, className, FromCp932(caption).c_str(),
                      kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT, rect.right - rect.left,
                      rect.bottom - rect.top, nullptr, nullptr, GetModuleHandleW(nullptr), this);
}

void TForm::Show() {
  ShowWindow(handle_, SW_SHOWNORMAL);
  UpdateWindow(handle_);
  const HWND focus = GetFocus();
  if (focus == nullptr || !IsChild(handle_, focus)) {
    if (const HWND first = GetNextDlgTabItem(handle_, nullptr, FALSE)) SetFocus(first);
  }
}

void TForm::Close() {
  PostMessageW(handle_, WM_CLOSE, 0, 0);
}

std::string TForm::Caption() const {
  wchar_t text[256] = {};
  GetWindowTextW(handle_, text, 256);
  return ToCp932(text);
}

void TForm::SetStayOnTop(bool onTop) {
  SetWindowPos(handle_, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool TForm::StayOnTop() const {
  return (GetWindowLongW(handle_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

void TForm::Repaint() {
  RedrawWindow(handle_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

int TForm::AddControl(TControl* control) {
  controls_.push_back(control);
  return kFirstControlId + static_cast<int>(controls_.size()) - 1;
}

TControl* TForm::FindControl(HWND hwnd) const {
  for (TControl* control : controls_) {
    if (control->Handle() == hwnd) return control;
  }
  return nullptr;
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      // Commands without a control (Enter and Escape through the dialog keys) do nothing:
      // the form has no default and no cancel button.
      if (TControl* control = FindControl(reinterpret_cast<HWND>(lParam))) {
        control->Notify(HIWORD(wParam));
      }
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (TControl* control = FindControl(reinterpret_cast<HWND>(lParam))) {
        if (HBRUSH brush = control->TextColors(reinterpret_cast<HDC>(wParam))) {
          return reinterpret_cast<LRESULT>(brush);
        }
      }
      break;
    case WM_SETCURSOR:
      // The application-wide cursor, when there is one, over the form and every control.
      if (Application != nullptr) {
        if (const HCURSOR cursor = Application->CursorHandle()) {
          if (LOWORD(lParam) == HTCLIENT) {
            ::SetCursor(cursor);
            return TRUE;
          }
        }
      }
      break;
    case WM_SHOWWINDOW:
      if (wParam != FALSE && lParam == 0 && OnShow) Application->Invoke([&] { OnShow(this); });
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(handle_, focus)) lastFocus_ = focus;
      } else if (HIWORD(wParam) == 0) {  // not minimised
        HWND focus = lastFocus_ != nullptr && IsWindow(lastFocus_)
                         ? lastFocus_
                         : GetNextDlgTabItem(handle_, nullptr, FALSE);
        if (focus != nullptr) {
          SetFocus(focus);
          return 0;
        }
      }
      break;
    case WM_CLOSE:
      if (CloseQuery()) DestroyWindow(handle_);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(handle_, msg, wParam, lParam);
}

LRESULT CALLBACK TForm::StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* form = static_cast<TForm*>(create->lpCreateParams);
    form->handle_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    form->handle_ = nullptr;
    if (Application != nullptr && Application->MainForm() == form) Application->Terminate();
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  return form->WndProc(msg, wParam, lParam);
}

}  // namespace korvane::ui
