// A main window in real Win32 windows, its write job pointed at the simulated chip,
// its message boxes and sounds recorded, and the input a user would give it.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/sim_port.h"
#include "test_support.h"
#include "ui/UMainForm.h"
#include "ui/application.h"

namespace korvane::ui::test {

struct Box {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
  bool formEnabled;  // whether the main window took input while the box was open
  bool formOnTop;    // whether the main window was a stay-on-top window meanwhile
};

struct JobCall {
  std::string path;
  int port;
  bool deleteAfterWrite;
};

// What the window showed at one progress report of a job, after the window handled it.
struct Snapshot {
  int32_t percent;
  int barPosition;
  bool barVisible;
  std::string writeCaption;
  std::string status;
  bool comEnabled, nameEnabled, browseEnabled, writeEnabled, deleteEnabled, autoEnabled,
      spinnerEnabled;
  TCursor cursor;
  HCURSOR cursorOverComBox;
  bool stayOnTop;
};

class MainWindowTest : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  // Handles the window events that are pending.
  void Pump();
  // A new simulated chip for the next write.
  void UseChip(sim::ChipConfig config);
  // The image file the tests write, with `size` bytes; its path.
  std::string MakeImageFile(size_t size, const std::string& name = "app.bin");

  // A click, as the mouse would make it: false when the control is disabled or hidden.
  static bool Click(TControl& control);
  static void PostClick(TControl& control);
  // Replaces the whole text of an edit box by typing.
  static void TypeInto(TEdit& edit, const std::wstring& text);
  static void Type(TEdit& edit, const std::wstring& text);
  static void PressKey(TControl& control, UINT key);
  // The cursor Windows shows over a control now.
  static HCURSOR CursorOver(TControl& control);
  Snapshot Capture(int32_t percent) const;
  // The options as the user sets them, with clicks.
  void SetOption(TCheckBox& box, bool checked);
  // One tick of the watcher's timer, as the system sends it; false when it is off.
  bool Tick();

  korvane::test::TempDir dir;
  std::unique_ptr<TApplication> app;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<sim::SimulatedChip> chip;
  std::vector<Box> boxes;
  std::vector<UINT> beeps;
  std::vector<JobCall> jobs;
  std::vector<Snapshot> snapshots;
  // Runs at each progress report before the window sees it.
  std::function<void(int32_t percent)> beforeProgress;
  // Runs while a box is open (the recorded box is already in `boxes`).
  std::function<void()> whileBoxOpen;
};

}  // namespace korvane::ui::test
