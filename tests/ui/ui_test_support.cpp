#include "ui_test_support.h"

#include "job/write_bin_file.h"

namespace korvane::ui::test {

void MainWindowTest::SetUp() {
  chip = std::make_unique<sim::SimulatedChip>();
  app = std::make_unique<TApplication>();
  app->Initialize();
  app->showBox = [this](HWND owner, const std::string& text, const std::string& caption,
                        UINT type) {
    boxes.push_back({owner, text, caption, type, form && IsWindowEnabled(form->Handle()) != FALSE,
                     form && form->StayOnTop()});
    if (whileBoxOpen) whileBoxOpen();
    return IDOK;
  };
  app->beep = [this](UINT type) { beeps.push_back(type); };
  form = std::make_unique<TMainForm>();
  form->writeJob = [this](const std::string& path, int port, bool deleteAfterWrite,
                          const ProgressCallback& progress, const AbortFlag* abort) {
    jobs.push_back({path, port, deleteAfterWrite});
    JobOptions options;
    options.observer.abort = abort;
    options.observer.progress = [&](int32_t percent) {
      if (beforeProgress) beforeProgress(percent);
      progress(percent);
      if (form) snapshots.push_back(Capture(percent));
    };
    return WriteBinFile(path, chip->Opener(), deleteAfterWrite, options);
  };
  form->Show();
  Pump();
}

void MainWindowTest::TearDown() {
  form.reset();
  app.reset();
  // The main window's end asks the event loop to stop; that request ends here.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

void MainWindowTest::Pump() {
  app->ProcessMessages();
}

void MainWindowTest::UseChip(sim::ChipConfig config) {
  chip = std::make_unique<sim::SimulatedChip>(std::move(config));
}

std::string MainWindowTest::MakeImageFile(size_t size, const std::string& name) {
  const std::string path = dir.File(name);
  korvane::test::WriteFile(path, korvane::test::MakeImage(size));
  return path;
}

bool MainWindowTest::Click(TControl& control) {
  if (!IsWindowEnabled(control.Handle()) || !IsWindowVisible(control.Handle())) return false;
  SendMessageW(control.Handle(), BM_CLICK, 0, 0);
  return true;
}

void MainWindowTest::PostClick(TControl& control) {
  PostMessageW(control.Handle(), BM_CLICK, 0, 0);
}

void MainWindowTest::Type(TEdit& edit, const std::wstring& text) {
  for (wchar_t c : text) SendMessageW(edit.Handle(), WM_CHAR, c, 1);
}

void MainWindowTest::TypeInto(TEdit& edit, const std::wstring& text) {
  SendMessageW(edit.Handle(), EM_SETSEL, 0, -1);
  SendMessageW(edit.Handle(), WM_CHAR, VK_BACK, 1);
  Type(edit, text);
}

void MainWindowTest::PressKey(TControl& control, UINT key) {
  SendMessageW(control.Handle(), WM_KEYDOWN, key, 1);
  SendMessageW(control.Handle(), WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

HCURSOR MainWindowTest::CursorOver(TControl& control) {
  SetCursor(nullptr);
  SendMessageW(control.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(control.Handle()),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  return GetCursor();
}

Snapshot MainWindowTest::Capture(int32_t percent) const {
  Snapshot s;
  s.percent = percent;
  s.barPosition = form->WriteProgressBar.Position();
  s.barVisible = form->WriteProgressBar.Visible();
  s.writeCaption = form->WriteBtn.Caption();
  s.status = form->MainStatusBar.SimpleText();
  s.comEnabled = form->ComEdt.Enabled();
  s.nameEnabled = form->FileNameEdt.Enabled();
  s.browseEnabled = form->FileNameBtn.Enabled();
  s.writeEnabled = form->WriteBtn.Enabled();
  s.deleteEnabled = form->DeleteChkBx.Enabled();
  s.autoEnabled = form->AutoWriteChkBx.Enabled();
  s.spinnerEnabled = form->ComUpDown.Enabled();
  s.cursor = app->Cursor();
  s.cursorOverComBox = CursorOver(form->ComEdt);
  s.stayOnTop = form->StayOnTop();
  return s;
}

void MainWindowTest::SetOption(TCheckBox& box, bool checked) {
  if (box.Checked() != checked) {
    ASSERT_TRUE(Click(box)) << "the option is disabled";
  }
  ASSERT_EQ(box.Checked(), checked);
}

bool MainWindowTest::Tick() {
  if (!form->FileTimer.Enabled()) return false;
  SendMessageW(form->FileTimer.Handle(), WM_TIMER, form->FileTimer.Id(), 0);
  return true;
}

}  // namespace korvane::ui::test
