// A fixed-size top-level window that holds controls: Korvane's TForm.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/controls.h"

namespace korvane::ui {

class TForm : public TObject {
 public:
  TForm();
  ~TForm() override;
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  HWND Handle() const { return handle_; }
  // Sizes are given at 96 dots per inch; Scale turns them into the system's.
  int Scale(int pixels) const;
  HFONT Font() const { return font_; }
  // The face the form's font was created with, and whether it is the one asked for.
  const std::wstring& FontFace() const { return fontFace_; }

  // Shows the form and gives the focus to its first control.
  void Show();
  // Asks the form to close, as the close button does.
  void Close();
  std::string Caption() const;

  // Stay-on-top (kept above every window that is not itself stay-on-top) or normal.
  void SetStayOnTop(bool onTop);
  bool StayOnTop() const;
  // Carries out the pending repainting of the form and its controls at once.
  void Repaint();

  TNotifyEvent OnShow;

  // For the controls: each one registers itself when its window is made.
  int AddControl(TControl* control);

 protected:
  // Makes the window: caption (Shift-JIS), client size at 96 dpi, the font (face in
  // Shift-JIS, character height in pixels at 96 dpi), fixed single border, system
  // menu and minimise button only.
  void CreateForm(const wchar_t* className, const std::string& caption, int clientWidth,
                  int clientHeight, const std::string& fontFace, int fontHeight);
  // Whether a close request is honoured now.
  virtual bool CloseQuery() { return true; }
  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  TControl* FindControl(HWND hwnd) const;
  void ChooseFont(const std::string& face, int height);

  HWND handle_ = nullptr;
  HFONT font_ = nullptr;
  std::wstring fontFace_;
  int dpi_ = 96;
  std::vector<TControl*> controls_;
  HWND lastFocus_ = nullptr;
};

}  // namespace korvane::ui
