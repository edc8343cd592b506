// The application object of Korvane's window layer: the event loop, event processing
// from inside a long operation, the application-wide cursor, message boxes, the
// system sound, and the box for a failure that no event handler dealt with.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace korvane::ui {

class TForm;

// The application-wide cursor: Default lets every control show its own.
enum class TCursor { Default, Arrow, HourGlass };

class TApplication {
 public:
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Common controls, the application's own hidden top-level window, the title.
  void Initialize();
  // The first form that is created becomes the main form.
  void FormCreated(TForm* form);
  void FormDestroyed(TForm* form);
  TForm* MainForm() const { return mainForm_; }

  // Shows the main form and handles events until it is closed.
  void Run();
  // Handles every pending event of the thread and returns when none is left.
  void ProcessMessages();
  void Terminate();
  bool Terminated() const { return terminated_; }

  void SetCursor(TCursor cursor);
  TCursor Cursor() const { return cursor_; }
  // The cursor every window of the application shows; null for Default.
  HCURSOR CursorHandle() const;

  // A modal box with the application's window as its owner; the application's other
  // windows take no input while it is open. text and caption are Shift-JIS.
  int MessageBox(const std::string& text, const std::string& caption, UINT type);
  // Boxes shown by MessageBox and still open.
  int OpenBoxes() const { return openBoxes_; }
  void Beep(UINT type);
  // The standard error box: the title as caption, the error icon, an OK button.
  void ShowException(const std::string& message);
  // Runs an event handler; a failure that escapes it goes to ShowException.
  void Invoke(const std::function<void()>& handler);

  // The executable's name, as "korvane" for korvane.exe.
  const std::string& Title() const { return title_; }
  // The application's own top-level window, never shown; it owns the message boxes.
  HWND Handle() const { return handle_; }

  // Test seams. showBox stands in for the system's message box at the moment it would
  // appear (the other windows are already disabled); beep for the system sound.
  std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT type)>
      showBox;
  std::function<void(UINT type)> beep;

 private:
  void Dispatch(MSG& msg);

  HWND handle_ = nullptr;
  TForm* mainForm_ = nullptr;
  std::vector<TForm*> forms_;
  bool terminated_ = false;
  TCursor cursor_ = TCursor::Default;
  int openBoxes_ = 0;
  std::string title_;
};

// The one application object of the process.
extern TApplication* Application;

}  // namespace korvane::ui
