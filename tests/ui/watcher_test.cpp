// The auto-write watcher in real Win32 windows: the delete and auto-write options, the
// timer's ticks (sent by the test, not waited for), and automatic writes into the
// simulated chip.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <new>

#include "job/messages.h"
#include "ui/ui_texts.h"
#include "ui/wide_text.h"
#include "ui_test_support.h"

namespace korvane::ui::test {
namespace {

namespace msg = korvane::messages;
using Watcher = MainWindowTest;

enum class State { Unavailable, Available, Armed };

// Reads the watcher's state off the window, checking that the parts agree.
State StateOf(TMainForm& form) {
  const bool enabled = form.AutoWriteChkBx.Enabled(), checked = form.AutoWriteChkBx.Checked();
  const bool armed = enabled && checked;
  EXPECT_EQ(form.FileTimer.Enabled(), armed);
  EXPECT_EQ(form.MainStatusBar.SimpleText(), armed ? texts::kWaitingText : texts::kPromptText);
  EXPECT_EQ(form.ComEdt.Enabled(), !armed);
  EXPECT_EQ(form.FileNameEdt.Enabled(), !armed);
  EXPECT_EQ(form.FileNameBtn.Enabled(), !armed);
  EXPECT_EQ(form.WriteBtn.Enabled(), !armed && !form.FileNameEdt.WideText().empty());
  EXPECT_TRUE(form.DeleteChkBx.Enabled());
  if (armed) return State::Armed;
  EXPECT_FALSE(checked) << "a disabled auto-write box is never left checked";
  return enabled ? State::Available : State::Unavailable;
}

TEST_F(Watcher, TheOptionsMoveItBetweenItsStates) {
  EXPECT_EQ(StateOf(*form), State::Unavailable);
  SetOption(form->DeleteChkBx, true);
  EXPECT_EQ(StateOf(*form), State::Unavailable) << "no file name yet";
  Type(form->FileNameEdt, L"a.bin");
  EXPECT_EQ(StateOf(*form), State::Available) << "a name entered while the delete option is on";
  TypeInto(form->FileNameEdt, L"");
  EXPECT_EQ(StateOf(*form), State::Unavailable) << "the name cleared";
  Type(form->FileNameEdt, L"a.bin");
  SetOption(form->DeleteChkBx, false);
  EXPECT_EQ(StateOf(*form), State::Unavailable) << "the delete option unchecked";
  SetOption(form->DeleteChkBx, true);
  EXPECT_EQ(StateOf(*form), State::Available) << "checking the option leaves auto-write unchecked";
  SetOption(form->AutoWriteChkBx, true);
  EXPECT_EQ(StateOf(*form), State::Armed);
  SetOption(form->AutoWriteChkBx, false);
  EXPECT_EQ(StateOf(*form), State::Available) << "unchecked by the user";
  SetOption(form->AutoWriteChkBx, true);
  // Unchecking the delete option while armed disarms: without deletion the same file
  // would be written again at every tick.
  SetOption(form->DeleteChkBx, false);
  EXPECT_EQ(StateOf(*form), State::Unavailable);
  EXPECT_FALSE(Tick());
  EXPECT_TRUE(jobs.empty());
}

TEST_F(Watcher, TicksWithoutTheFileChangeNothing) {
  const std::string path = dir.File("app.bin");
  Type(form->FileNameEdt, FromAnsi(path));
  SetOption(form->DeleteChkBx, true);
  SetOption(form->AutoWriteChkBx, true);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Tick());
  EXPECT_EQ(StateOf(*form), State::Armed);
  EXPECT_TRUE(jobs.empty());
  EXPECT_FALSE(form->StayOnTop());

  // A folder with the file's name never starts a write.
  std::filesystem::create_directory(path);
  ASSERT_TRUE(Tick());
  EXPECT_TRUE(jobs.empty());
  EXPECT_EQ(StateOf(*form), State::Armed);
}

TEST_F(Watcher, AFileThatIsThereIsWrittenAtTheFirstTickAndTheWatcherWaitsForTheNext) {
  const auto image = korvane::test::MakeImage(3000);
  const std::string path = dir.File("app.bin");
  korvane::test::WriteFile(path, image);
  Type(form->FileNameEdt, FromAnsi(path));
  SetOption(form->DeleteChkBx, true);
  SetOption(form->AutoWriteChkBx, true);
  ASSERT_TRUE(jobs.empty()) << "arming writes nothing before the first tick";

  ASSERT_TRUE(Tick());
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].path, path);
  EXPECT_TRUE(jobs[0].deleteAfterWrite);
  ASSERT_EQ(snapshots.size(), 3u);
  for (const Snapshot& s : snapshots) {
    EXPECT_TRUE(s.stayOnTop) << "on top for the time of the write";
    EXPECT_EQ(s.status, texts::kWritingText);
    EXPECT_FALSE(s.autoEnabled);
  }
  EXPECT_TRUE(std::equal(image.begin(), image.end(), chip->loader.flash().begin()));
  EXPECT_EQ(beeps, std::vector<UINT>{MB_ICONASTERISK});
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(korvane::test::FileExists(path)) << "the job deleted it";
  EXPECT_FALSE(form->StayOnTop()) << "back in the normal window order";
  EXPECT_EQ(StateOf(*form), State::Armed);

  // The next file of that name is written at a later tick.
  ASSERT_TRUE(Tick());
  EXPECT_EQ(jobs.size(), 1u);
  korvane::test::WriteFile(path, korvane::test::MakeImage(100, 7));
  UseChip({});
  ASSERT_TRUE(Tick());
  EXPECT_EQ(jobs.size(), 2u);
  EXPECT_EQ(beeps.size(), 2u);
  EXPECT_EQ(StateOf(*form), State::Armed);
}

TEST_F(Watcher, AFailedOrAbortedAutomaticWriteShowsItsBoxOnTopAndStopsTheWatcher) {
  const struct {
    const char* name;
    std::function<void(Watcher&)> arrange;
    const char* message;
    UINT type;
  } cases[] = {
      {"wrong chip",
       [](Watcher& t) {
         t.UseChip({0x12345, true, {}});
       },
       msg::kWrongChip, MB_ICONERROR},
      {"aborted",
       [](Watcher& t) {
         t.beforeProgress = [&t](int32_t percent) {
           if (percent > 0) PostClick(t.form->WriteBtn);
         };
       },
       msg::kWriteAborted, MB_ICONINFORMATION},
      {"invalid COM number", [](Watcher& t) { TypeInto(t.form->ComEdt, L"a"); },
       texts::kInvalidComNumber, MB_ICONERROR},
      {"the file cannot be opened",
       [](Watcher& t) {
         // Held open without sharing by another program.
         static HANDLE held;
         held = CreateFileW(FromAnsi(t.dir.File("app.bin")).c_str(), GENERIC_READ | GENERIC_WRITE,
                            0, nullptr, OPEN_EXISTING, 0, nullptr);
         t.whileBoxOpen = [] { CloseHandle(held); };
       },
       msg::kFileOpenFailed, MB_ICONERROR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = MakeImageFile(3000);
    TypeInto(form->ComEdt, L"1");
    TypeInto(form->FileNameEdt, FromAnsi(path));
    SetOption(form->DeleteChkBx, true);
    SetOption(form->AutoWriteChkBx, true);
    UseChip({});
    boxes.clear();
    beforeProgress = nullptr;
    whileBoxOpen = nullptr;
    c.arrange(*this);
    ASSERT_EQ(StateOf(*form), State::Armed) << "a wrong COM number is not noticed when arming";

    ASSERT_TRUE(Tick());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.message);
    EXPECT_EQ(boxes[0].type, MB_OK | c.type);
    EXPECT_TRUE(boxes[0].formOnTop) << "the box comes while the window is on top";
    EXPECT_FALSE(form->StayOnTop());
    EXPECT_EQ(StateOf(*form), State::Available) << "auto-write unchecked, the timer off";
    EXPECT_TRUE(korvane::test::FileExists(path));
  }
  EXPECT_TRUE(beeps.empty());
}

TEST_F(Watcher, AFailureThatEscapesTheWriteKeepsTheWatcherButHoldsItWhileTheBoxIsOpen) {
  const std::string path = MakeImageFile(100);
  Type(form->FileNameEdt, FromAnsi(path));
  SetOption(form->DeleteChkBx, true);
  SetOption(form->AutoWriteChkBx, true);
  int escapes = 0;
  form->writeJob = [&](const std::string&, int, bool, const ProgressCallback&,
                       const AbortFlag*) -> JobResult {
    ++escapes;
    throw std::bad_alloc();
  };
  bool onTopWithBox = true, timerOnWithBox = false;
  whileBoxOpen = [&] {
    onTopWithBox = form->StayOnTop();
    timerOnWithBox = form->FileTimer.Enabled();
    // A tick while the box is open writes nothing.
    Tick();
  };
  ASSERT_TRUE(Tick());
  EXPECT_EQ(escapes, 1) << "no second write while the box was open";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "ui_tests");
  EXPECT_FALSE(onTopWithBox) << "the normal window order is back before the box";
  EXPECT_TRUE(timerOnWithBox) << "the watcher goes on, as the box was checked";
  EXPECT_EQ(StateOf(*form), State::Armed);
  ASSERT_TRUE(Tick());
  EXPECT_EQ(escapes, 2) << "the watcher writes again once the box is closed";
}

TEST_F(Watcher, SwitchingTheTimerOnWhileOnKeepsItsPeriod) {
  // A period of 1000 ms, switched on again 500 ms into it: kept, it ticks 1000 ms after
  // the start; restarted, 1000 ms after the second switch. The margin between the two
  // is 500 ms, so a busy machine that runs the test late does not change the verdict.
  using Clock = std::chrono::steady_clock;
  constexpr long long kPeriod = 1000;
  TTimer timer;
  timer.SetInterval(kPeriod);
  std::vector<Clock::time_point> ticks;
  timer.OnTimer = [&](TObject*) { ticks.push_back(Clock::now()); };
  const auto msBetween = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
  };
  // Processes messages until `count` ticks have come or `ms` have passed.
  const auto pumpUntil = [&](size_t count, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (ticks.size() < count && Clock::now() < end) {
      app->ProcessMessages();
      Sleep(5);
    }
  };

  const auto start = Clock::now();
  timer.SetEnabled(true);
  pumpUntil(1, 500);
  ASSERT_TRUE(ticks.empty()) << "ticked " << msBetween(start, ticks[0])
                             << " ms into a 1000 ms period";
  const auto again = Clock::now();
  timer.SetEnabled(true);  // on again while on: the period started at `start` runs on
  pumpUntil(1, 10000);
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_GE(msBetween(start, ticks[0]), kPeriod - 20);
  EXPECT_LT(msBetween(again, ticks[0]), kPeriod) << "the period was restarted";

  // Off discards the running period; on again starts a fresh one, which ends a whole
  // period after the restart, not when the discarded one would have.
  pumpUntil(2, 500);
  ASSERT_EQ(ticks.size(), 1u);
  timer.SetEnabled(false);
  const auto restart = Clock::now();
  timer.SetEnabled(true);
  pumpUntil(2, 10000);
  ASSERT_EQ(ticks.size(), 2u);
  EXPECT_GE(msBetween(restart, ticks[1]), kPeriod - 20) << "the old period ran on";

  // A tick already queued when the timer goes off is dropped.
  timer.SetEnabled(false);
  SendMessageW(timer.Handle(), WM_TIMER, timer.Id(), 0);
  EXPECT_EQ(ticks.size(), 2u);
}

}  // namespace
}  // namespace korvane::ui::test
