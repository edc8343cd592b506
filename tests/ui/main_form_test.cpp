// The main window in real Win32 windows, driven by window messages, writing into the
// simulated chip.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <new>
#include <thread>
#include <utility>

#include "job/messages.h"
#include "ui/error_box_text.h"
#include "ui/ui_texts.h"
#include "ui/wide_text.h"
#include "ui_test_support.h"

namespace korvane::ui::test {
namespace {

namespace msg = korvane::messages;

const HCURSOR kWait = LoadCursorW(nullptr, IDC_WAIT);
const HCURSOR kArrow = LoadCursorW(nullptr, IDC_ARROW);
const HCURSOR kIBeam = LoadCursorW(nullptr, IDC_IBEAM);

// The enabled states that UpdateControls sets, in one comparable record.
struct Enabled {
  bool autoWrite, com, name, browse, write, del;
  bool operator==(const Enabled& o) const {
    return autoWrite == o.autoWrite && com == o.com && name == o.name && browse == o.browse &&
           write == o.write && del == o.del;
  }
};
std::ostream& operator<<(std::ostream& out, const Enabled& e) {
  return out << "auto " << e.autoWrite << " com " << e.com << " name " << e.name << " browse "
             << e.browse << " write " << e.write << " delete " << e.del;
}

using MainWindow = MainWindowTest;

Enabled EnabledStates(TMainForm& form) {
  return {form.AutoWriteChkBx.Enabled(), form.ComEdt.Enabled(),   form.FileNameEdt.Enabled(),
          form.FileNameBtn.Enabled(),    form.WriteBtn.Enabled(), form.DeleteChkBx.Enabled()};
}

TEST_F(MainWindow, StartsAsTheLayoutSays) {
  EXPECT_EQ(form->Caption(), texts::kFormCaption);
  EXPECT_EQ(form->ComEdt.Text(), "1");
  EXPECT_EQ(form->ComEdt.FontColor(), CLR_DEFAULT);
  EXPECT_EQ(form->ComUpDown.Position(), 1);
  EXPECT_EQ(form->FileNameEdt.Text(), "");
  EXPECT_FALSE(form->DeleteChkBx.Checked());
  EXPECT_FALSE(form->AutoWriteChkBx.Checked());
  EXPECT_FALSE(form->WriteProgressBar.Visible());
  EXPECT_EQ(form->WriteProgressBar.Position(), 0);
  EXPECT_EQ(EnabledStates(*form), (Enabled{false, true, true, true, false, true}));
  EXPECT_TRUE(form->ComUpDown.Enabled());
  EXPECT_EQ(form->MainStatusBar.SimpleText(), texts::kPromptText);
  EXPECT_FALSE(form->FileTimer.Enabled());
  EXPECT_EQ(form->FileTimer.Interval(), 2000u);
  EXPECT_EQ(app->Cursor(), TCursor::Default);
  EXPECT_EQ(CursorOver(form->ComEdt), kIBeam) << "each control shows its own cursor at first";
  EXPECT_EQ(GetFocus(), form->ComEdt.Handle());

  // Every text, byte for byte, as the window shows it.
  EXPECT_EQ(form->Label1.Caption(), texts::kLabel1);
  EXPECT_EQ(form->Label2.Caption(), texts::kLabel2);
  EXPECT_EQ(form->Label3.Caption(), texts::kLabel3);
  EXPECT_EQ(form->Label4.Caption(), texts::kLabel4);
  EXPECT_EQ(form->Label5.Caption(), texts::kLabel5);
  EXPECT_EQ(form->Label6.Caption(), texts::kLabel6);
  EXPECT_EQ(form->FileNameBtn.Caption(), texts::kBrowseCaption);
  EXPECT_EQ(form->WriteBtn.Caption(), texts::kWriteCaption);
  EXPECT_EQ(form->DeleteChkBx.Caption(), texts::kDeleteOption);
  EXPECT_EQ(form->AutoWriteChkBx.Caption(), texts::kAutoWriteOption);
}

TEST_F(MainWindow, IsAFixedWindowOfTheDesignSizeWithNoDefaultButton) {
  RECT client;
  GetClientRect(form->Handle(), &client);
  EXPECT_EQ(client.right, form->Scale(567));
  EXPECT_EQ(client.bottom, form->Scale(362));
  const LONG style = GetWindowLongW(form->Handle(), GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_EQ(GetClassLongPtrW(form->Handle(), GCLP_HBRBACKGROUND),
            static_cast<ULONG_PTR>(COLOR_BTNFACE + 1));

  // The status bar runs along the bottom edge, the whole width.
  const RECT status = form->MainStatusBar.BoundsRect();
  EXPECT_EQ(status.bottom, client.bottom);
  EXPECT_EQ(status.left, 0);
  EXPECT_EQ(status.right, client.right);

  // Labels are as wide as their text and never run under the box beside them.
  EXPECT_LE(form->Label1.BoundsRect().right, form->ComEdt.BoundsRect().left);
  EXPECT_EQ(form->ComEdt.BoundsRect().right, form->ComUpDown.BoundsRect().left);
  EXPECT_LE(form->Label2.BoundsRect().right, form->FileNameEdt.BoundsRect().left);
  EXPECT_EQ(form->FileNameEdt.BoundsRect().right, form->Scale(80 + 377));
  EXPECT_GT(form->Label6.BoundsRect().right - form->Label6.BoundsRect().left, form->Scale(300));
  EXPECT_FALSE(form->FontFace().empty()) << "no Japanese font found";
  // Check boxes hold their box and their whole text in the font the form got.
  for (TCheckBox* box : {&form->DeleteChkBx, &form->AutoWriteChkBx}) {
    const std::wstring text = FromCp932(box->Caption());
    const HDC dc = GetDC(box->Handle());
    const HGDIOBJ old = SelectObject(dc, form->Font());
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(box->Handle(), dc);
    const RECT bounds = box->BoundsRect();
    EXPECT_GE(bounds.right - bounds.left, size.cx + GetSystemMetrics(SM_CXMENUCHECK))
        << box->Caption();
  }

  // Enter and Escape in an edit box press nothing, with a name present.
  const std::string path = MakeImageFile(100);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  for (WPARAM key : {WPARAM{VK_RETURN}, WPARAM{VK_ESCAPE}}) {
    PostMessageW(form->FileNameEdt.Handle(), WM_KEYDOWN, key, 1);
    PostMessageW(form->FileNameEdt.Handle(), WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
    Pump();
  }
  EXPECT_TRUE(jobs.empty());
  EXPECT_TRUE(IsWindow(form->Handle()));

  // Tab walks the controls in their order.
  SetFocus(form->ComEdt.Handle());
  std::vector<HWND> order;
  for (int i = 0; i < 5; ++i) {
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    Pump();
    order.push_back(GetFocus());
  }
  EXPECT_EQ(order, (std::vector<HWND>{form->FileNameEdt.Handle(), form->FileNameBtn.Handle(),
                                      form->WriteBtn.Handle(), form->DeleteChkBx.Handle(),
                                      form->ComEdt.Handle()}))
      << "the disabled auto-write box and the progress bar take no focus";
}

TEST_F(MainWindow, EnabledStatesFollowTheNameAndTheOptions) {
  const struct {
    const wchar_t* name;
    bool deleteOption, autoWrite;
    Enabled enabled;
    const char* status;
  } cases[] = {
      {L"", false, false, {false, true, true, true, false, true}, texts::kPromptText},
      {L"", true, false, {false, true, true, true, false, true}, texts::kPromptText},
      {L"a.bin", false, false, {false, true, true, true, true, true}, texts::kPromptText},
      {L"a.bin", true, false, {true, true, true, true, true, true}, texts::kPromptText},
      {L"a.bin", true, true, {true, false, false, false, false, true}, texts::kWaitingText},
      // A name of blanks is a name.
      {L"   ", false, false, {false, true, true, true, true, true}, texts::kPromptText},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "name '" << ToAnsi(c.name) << "' delete " << c.deleteOption
                                    << " auto " << c.autoWrite);
    SetOption(form->AutoWriteChkBx, false);
    SetOption(form->DeleteChkBx, false);
    TypeInto(form->FileNameEdt, c.name);
    SetOption(form->DeleteChkBx, c.deleteOption);
    SetOption(form->AutoWriteChkBx, c.autoWrite);
    EXPECT_EQ(EnabledStates(*form), c.enabled);
    EXPECT_EQ(form->MainStatusBar.SimpleText(), c.status);
    EXPECT_TRUE(form->ComUpDown.Enabled());
  }
  // The auto-write box cannot be checked while it is disabled.
  SetOption(form->AutoWriteChkBx, false);
  SetOption(form->DeleteChkBx, false);
  EXPECT_FALSE(Click(form->AutoWriteChkBx));
  EXPECT_FALSE(form->AutoWriteChkBx.Checked());
}

TEST_F(MainWindow, TheFirstCharacterOfANameEnablesWritingAndTheLastOneTakenDisablesIt) {
  Type(form->FileNameEdt, L"x");
  EXPECT_TRUE(form->WriteBtn.Enabled());
  SendMessageW(form->FileNameEdt.Handle(), WM_CHAR, VK_BACK, 1);
  EXPECT_FALSE(form->WriteBtn.Enabled());
}

TEST_F(MainWindow, TheChangeEventComesWithEveryChangeOfTheText) {
  int changes = 0;
  form->ComEdt.OnChange = [&](TObject* sender) {
    ++changes;
    form->ComEdtChange(sender);
  };
  Type(form->ComEdt, L"2");  // typed: "12"
  EXPECT_EQ(changes, 1);
  form->ComEdt.SetText("7");  // from code
  EXPECT_EQ(changes, 2);
  form->ComEdt.SetText("7");  // the same text: no change
  EXPECT_EQ(changes, 2);
  PressKey(form->ComEdt, VK_UP);  // the spinner writes "8"
  EXPECT_EQ(form->ComEdt.Text(), "8");
  EXPECT_EQ(changes, 3);

  // Pasted text counts too, and stops at three characters like typed text.
  ASSERT_TRUE(OpenClipboard(form->Handle()));
  EmptyClipboard();
  const std::wstring pasted = L"98765";
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (pasted.size() + 1) * sizeof(wchar_t));
  memcpy(GlobalLock(memory), pasted.c_str(), (pasted.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  CloseClipboard();
  SendMessageW(form->ComEdt.Handle(), EM_SETSEL, 0, -1);
  SendMessageW(form->ComEdt.Handle(), WM_PASTE, 0, 0);
  EXPECT_EQ(form->ComEdt.Text(), "987");
  EXPECT_EQ(changes, 4);
  TypeInto(form->ComEdt, L"1234");
  EXPECT_EQ(form->ComEdt.Text(), "123");
}

TEST_F(MainWindow, InvalidComNumbersTurnRedAndStopTheWriteBeforeTheJob) {
  const std::string path = MakeImageFile(100);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  for (const wchar_t* text : {L"", L"a", L"1 ", L"+"}) {
    SCOPED_TRACE(ToAnsi(text));
    boxes.clear();
    TypeInto(form->ComEdt, text);
    EXPECT_EQ(form->ComEdt.FontColor(), RGB(255, 0, 0));
    // The colour the edit box really paints with.
    const HDC dc = GetDC(form->ComEdt.Handle());
    SendMessageW(form->Handle(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(form->ComEdt.Handle()));
    EXPECT_EQ(GetTextColor(dc), RGB(255, 0, 0));
    ReleaseDC(form->ComEdt.Handle(), dc);
    // Nothing else changes.
    EXPECT_TRUE(form->WriteBtn.Enabled());
    EXPECT_EQ(form->MainStatusBar.SimpleText(), texts::kPromptText);

    ASSERT_TRUE(Click(form->WriteBtn));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, texts::kInvalidComNumber);
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_FALSE(form->Writing());
    EXPECT_EQ(form->WriteBtn.Caption(), texts::kWriteCaption);
    EXPECT_FALSE(form->WriteProgressBar.Visible());
  }
  EXPECT_TRUE(jobs.empty()) << "the job never started";
  EXPECT_TRUE(beeps.empty());
  EXPECT_EQ(chip->opens, 0);
}

TEST_F(MainWindow, ValidComNumbersArePassedToTheJobAsTheyConvert) {
  const std::string path = MakeImageFile(64);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  const struct {
    const wchar_t* text;
    int port;
  } cases[] = {{L" 5", 5},  {L"+5", 5},  {L"$1F", 31}, {L"x1F", 31},
               {L"0x1", 1}, {L"-1", -1}, {L"0", 0},    {L"250", 250}};
  for (const auto& c : cases) {
    SCOPED_TRACE(ToAnsi(c.text));
    TypeInto(form->ComEdt, c.text);
    EXPECT_EQ(form->ComEdt.FontColor(), CLR_DEFAULT);
    jobs.clear();
    UseChip({});
    ASSERT_TRUE(Click(form->WriteBtn));
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].port, c.port);
    EXPECT_EQ(jobs[0].path, path);
    EXPECT_FALSE(jobs[0].deleteAfterWrite);
  }
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(beeps.size(), std::size(cases));
}

TEST_F(MainWindow, TheSpinnerStepsWithinOneToAHundredAndWritesTheBox) {
  PressKey(form->ComEdt, VK_DOWN);
  EXPECT_EQ(form->ComEdt.Text(), "1") << "no wrap-around below 1";
  form->ComEdt.SetText("99");
  PressKey(form->ComEdt, VK_UP);
  EXPECT_EQ(form->ComEdt.Text(), "100");
  PressKey(form->ComEdt, VK_UP);
  EXPECT_EQ(form->ComEdt.Text(), "100") << "no wrap-around above 100";
  PressKey(form->ComEdt, VK_DOWN);
  EXPECT_EQ(form->ComEdt.Text(), "99");

  // A click on the spinner's lower half steps down once.
  RECT spinner;
  GetClientRect(form->ComUpDown.Handle(), &spinner);
  const LPARAM lowerHalf = MAKELPARAM(spinner.right / 2, spinner.bottom * 3 / 4);
  SendMessageW(form->ComUpDown.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, lowerHalf);
  SendMessageW(form->ComUpDown.Handle(), WM_LBUTTONUP, 0, lowerHalf);
  EXPECT_EQ(form->ComEdt.Text(), "98");

  // A typed number is not held to the spinner's range.
  TypeInto(form->ComEdt, L"250");
  EXPECT_EQ(form->ComEdt.FontColor(), CLR_DEFAULT);
}

TEST_F(MainWindow, ASuccessfulWritePlaysTheSoundOnly) {
  const auto image = korvane::test::MakeImage(5000);
  const std::string path = dir.File("app.bin");
  korvane::test::WriteFile(path, image);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  ASSERT_TRUE(Click(form->WriteBtn));

  EXPECT_EQ(beeps, std::vector<UINT>{MB_ICONASTERISK});
  EXPECT_EQ(MB_ICONASTERISK, 0x40u);
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), chip->loader.flash().begin()));
  EXPECT_TRUE(korvane::test::FileExists(path)) << "the delete option is off";

  // The bar counted the blocks and never reached 100.
  ASSERT_EQ(snapshots.size(), 5u);
  for (const Snapshot& s : snapshots) EXPECT_EQ(s.barPosition, s.percent);
  EXPECT_EQ(snapshots.back().percent, 4 * 100 / 5);

  // Back to idle.
  EXPECT_FALSE(form->Writing());
  EXPECT_FALSE(form->WriteProgressBar.Visible());
  EXPECT_EQ(form->WriteBtn.Caption(), texts::kWriteCaption);
  EXPECT_EQ(form->MainStatusBar.SimpleText(), texts::kPromptText);
  EXPECT_EQ(EnabledStates(*form), (Enabled{false, true, true, true, true, true}));
  EXPECT_EQ(app->Cursor(), TCursor::Arrow);
  EXPECT_EQ(CursorOver(form->ComEdt), kArrow)
      << "after a write the arrow shows over the edit boxes too";
  EXPECT_EQ(CursorOver(form->FileNameEdt), kArrow);
}

TEST_F(MainWindow, WhileWritingOnlyTheAbortButtonAndTheSpinnerTakeInput) {
  const std::string path = MakeImageFile(3000);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  SetOption(form->DeleteChkBx, true);
  ASSERT_TRUE(Click(form->WriteBtn));
  ASSERT_EQ(snapshots.size(), 3u);
  for (const Snapshot& s : snapshots) {
    EXPECT_TRUE(s.barVisible);
    EXPECT_EQ(s.writeCaption, texts::kAbortCaption);
    EXPECT_EQ(s.status, texts::kWritingText);
    EXPECT_FALSE(s.comEnabled || s.nameEnabled || s.browseEnabled || s.deleteEnabled ||
                 s.autoEnabled);
    EXPECT_TRUE(s.writeEnabled);
    EXPECT_TRUE(s.spinnerEnabled);
    EXPECT_EQ(s.cursor, TCursor::HourGlass);
    EXPECT_EQ(s.cursorOverComBox, kWait);
  }
  EXPECT_EQ(jobs.at(0).deleteAfterWrite, true);
  EXPECT_FALSE(korvane::test::FileExists(path)) << "deleted after the write";
  EXPECT_EQ(beeps.size(), 1u);
}

TEST_F(MainWindow, AFailureShowsTheJobsMessageAndSwitchesAutoWriteOff) {
  sim::ChipConfig wrongChip;
  wrongChip.partId = 12345;
  UseChip(wrongChip);
  const std::string path = MakeImageFile(2000);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  SetOption(form->DeleteChkBx, true);
  SetOption(form->AutoWriteChkBx, true);
  // The watcher's way in: the write command with no sender while auto-write is armed.
  whileBoxOpen = [&] {
    EXPECT_TRUE(form->AutoWriteChkBx.Checked()) << "unchecked only after the box";
  };
  form->WriteBtnClick(nullptr);

  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, msg::kWrongChip);
  EXPECT_EQ(boxes[0].caption, texts::kFormCaption);
  EXPECT_EQ(boxes[0].type, 0x10u);
  EXPECT_EQ(boxes[0].owner, app->Handle()) << "owned by the application's window";
  EXPECT_NE(boxes[0].owner, form->Handle());
  EXPECT_FALSE(boxes[0].formEnabled) << "the main window waits for the box";
  EXPECT_TRUE(IsWindowEnabled(form->Handle()));
  EXPECT_TRUE(beeps.empty());
  EXPECT_FALSE(form->AutoWriteChkBx.Checked());
  EXPECT_FALSE(form->FileTimer.Enabled());
  EXPECT_TRUE(korvane::test::FileExists(path));
  EXPECT_EQ(form->MainStatusBar.SimpleText(), texts::kPromptText);
  EXPECT_EQ(EnabledStates(*form), (Enabled{true, true, true, true, true, true}));
}

TEST_F(MainWindow, AnAbortClickStopsBeforeTheNextBlockAndOnceIsAsGoodAsTwice) {
  const auto image = korvane::test::MakeImage(5000);
  const std::string path = dir.File("app.bin");
  korvane::test::WriteFile(path, image);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  for (int clicks : {1, 2}) {
    SCOPED_TRACE(testing::Message() << clicks << " clicks");
    UseChip({});
    boxes.clear();
    jobs.clear();
    int reports = 0;
    // The user clicks while the first block goes out; the click is handled at the next
    // progress report, and the second block is never sent.
    beforeProgress = [&](int32_t) {
      if (++reports == 2) {
        for (int i = 0; i < clicks; ++i) PostClick(form->WriteBtn);
      }
    };
    ASSERT_TRUE(Click(form->WriteBtn));
    EXPECT_EQ(reports, 2) << "no block after the one the click came with";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, msg::kWriteAborted);
    EXPECT_EQ(boxes[0].type, 0x40u) << "the information icon";
    // The first block sent (the one at 1024: block 0 goes last) reached the flash, no
    // other did: block 0 stays erased, so the chip stays in its boot loader.
    const auto& flash = chip->loader.flash();
    EXPECT_TRUE(std::equal(image.begin() + 1024, image.begin() + 2048, flash.begin() + 1024));
    EXPECT_TRUE(
        std::all_of(flash.begin(), flash.begin() + 1024, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(
        std::all_of(flash.begin() + 2048, flash.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(chip->closes, 1);
    EXPECT_FALSE(form->Writing());
    EXPECT_TRUE(form->Abort().Requested()) << "the request stays set until the next write";
    EXPECT_EQ(jobs.size(), 1u) << "no click started a second write";
  }
  EXPECT_TRUE(beeps.empty());
}

TEST_F(MainWindow, AnAbortClickTooLateToStopTheWriteDoesNotStartItAgain) {
  const std::string path = MakeImageFile(2000);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  // The user clicks the abort button while the job restarts the chip, after its last
  // progress report: mouse input waiting in the queue when the job returns.
  bool clicked = false;
  chip->onClose = [&] {
    if (std::exchange(clicked, true)) return;
    RECT button;
    GetClientRect(form->WriteBtn.Handle(), &button);
    const LPARAM centre = MAKELPARAM(button.right / 2, button.bottom / 2);
    PostMessageW(form->WriteBtn.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, centre);
    PostMessageW(form->WriteBtn.Handle(), WM_LBUTTONUP, 0, centre);
  };
  ASSERT_TRUE(Click(form->WriteBtn));
  Pump();
  EXPECT_EQ(jobs.size(), 1u) << "the late click started another write";
  EXPECT_EQ(beeps.size(), 1u);
  EXPECT_TRUE(boxes.empty());
  // Clicks made later are clicks again.
  UseChip({});
  ASSERT_TRUE(Click(form->WriteBtn));
  EXPECT_EQ(jobs.size(), 2u);
}

TEST_F(MainWindow, AFailureThatEscapesTheWriteLeavesTheWritingStateAndIsShownByTheApplication) {
  const std::string path = MakeImageFile(10);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  form->writeJob = [](const std::string&, int, bool, const ProgressCallback&,
                      const AbortFlag*) -> JobResult { throw std::bad_alloc(); };
  ASSERT_TRUE(Click(form->WriteBtn));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, ErrorBoxText(std::bad_alloc().what()));
  EXPECT_EQ(boxes[0].caption, "ui_tests");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_FALSE(form->Writing());
  EXPECT_EQ(form->WriteBtn.Caption(), texts::kWriteCaption);
  EXPECT_FALSE(form->WriteProgressBar.Visible());
  EXPECT_EQ(app->Cursor(), TCursor::Arrow);
  EXPECT_EQ(form->MainStatusBar.SimpleText(), texts::kPromptText);
  EXPECT_TRUE(beeps.empty()) << "no result is presented";
}

TEST_F(MainWindow, AClosedWindowWaitsForTheWriteToEnd) {
  const auto image = korvane::test::MakeImage(4000);
  const std::string path = dir.File("app.bin");
  korvane::test::WriteFile(path, image);
  TypeInto(form->FileNameEdt, FromAnsi(path));
  bool openDuringWrite = true;
  beforeProgress = [&](int32_t percent) {
    if (percent == 0) form->Close();
    if (percent > 0) openDuringWrite = openDuringWrite && IsWindowVisible(form->Handle());
  };
  ASSERT_TRUE(Click(form->WriteBtn));
  EXPECT_TRUE(openDuringWrite);
  EXPECT_EQ(snapshots.size(), 4u) << "the write ran to its end";
  EXPECT_TRUE(std::equal(image.begin(), image.end(), chip->loader.flash().begin()));
  EXPECT_EQ(beeps.size(), 1u);
  Pump();
  EXPECT_EQ(form->Handle(), nullptr) << "closed once the write was done";
  EXPECT_TRUE(app->Terminated() || PeekMessageW(nullptr, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST_F(MainWindow, CheckBoxesRunTheirHandlerOnlyWhenTheStateChanges) {
  int clicks = 0;
  form->DeleteChkBx.OnClick = [&](TObject*) { ++clicks; };
  form->DeleteChkBx.SetChecked(false);
  EXPECT_EQ(clicks, 0);
  form->DeleteChkBx.SetChecked(true);
  EXPECT_EQ(clicks, 1);
  form->DeleteChkBx.SetChecked(true);
  EXPECT_EQ(clicks, 1);
  ASSERT_TRUE(Click(form->DeleteChkBx));
  EXPECT_FALSE(form->DeleteChkBx.Checked());
  EXPECT_EQ(clicks, 2);
  PostMessageW(form->DeleteChkBx.Handle(), WM_KEYDOWN, VK_SPACE, 1);
  PostMessageW(form->DeleteChkBx.Handle(), WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0000001u));
  Pump();
  EXPECT_TRUE(form->DeleteChkBx.Checked());
  EXPECT_EQ(clicks, 3);
}

TEST_F(MainWindow, StayOnTopSwitchesOnAndOff) {
  EXPECT_FALSE(form->StayOnTop());
  form->SetStayOnTop(true);
  EXPECT_TRUE(form->StayOnTop());
  form->SetStayOnTop(false);
  EXPECT_FALSE(form->StayOnTop());
}

// Finds a top-level window of this process with the class and caption, waiting up to 10 s.
HWND WaitForWindow(const wchar_t* className, const wchar_t* caption) {
  for (int i = 0; i < 1000; ++i) {
    if (const HWND found = FindWindowW(className, caption)) {
      DWORD process = 0;
      GetWindowThreadProcessId(found, &process);
      if (process == GetCurrentProcessId() && IsWindowVisible(found)) return found;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return nullptr;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM out) {
  wchar_t className[16] = {};
  GetClassNameW(child, className, 16);
  wchar_t text[512] = {};
  GetWindowTextW(child, text, 512);
  if (_wcsicmp(className, L"Static") == 0 && text[0] != 0)
    *reinterpret_cast<std::wstring*>(out) += text;
  return TRUE;
}

TEST_F(MainWindow, ARealMessageBoxIsClosedWithItsOkButton) {
  app->showBox = nullptr;  // the system's own box
  TypeInto(form->ComEdt, L"a");
  TypeInto(form->FileNameEdt, L"x.bin");
  std::wstring boxText;
  bool ownedByApplication = false, formTookInput = true, clicked = false;
  std::thread user([&] {
    const HWND box = WaitForWindow(L"#32770", FromCp932(texts::kFormCaption).c_str());
    if (box == nullptr) return;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&boxText));
    ownedByApplication = GetWindow(box, GW_OWNER) == app->Handle();
    formTookInput = IsWindowEnabled(form->Handle()) != FALSE;
    SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    clicked = true;
  });
  ASSERT_TRUE(Click(form->WriteBtn));
  user.join();
  EXPECT_TRUE(clicked) << "no message box appeared";
  EXPECT_EQ(boxText, FromCp932(texts::kInvalidComNumber));
  EXPECT_TRUE(ownedByApplication);
  EXPECT_FALSE(formTookInput);
  EXPECT_TRUE(IsWindowEnabled(form->Handle()));
  EXPECT_TRUE(jobs.empty());
}

TEST_F(MainWindow, TheBrowseButtonOpensTheBinFileDialog) {
  OPENFILENAMEW record = form->FileOpenDlg.BuildRecord(form->Handle());
  const std::wstring filter =
      FromCp932("BIN\x83\x74\x83\x40\x83\x43\x83\x8B(*.bin)") + std::wstring(L"\0*.bin\0\0", 8);
  EXPECT_EQ(std::wstring(record.lpstrFilter, filter.size()), filter);
  EXPECT_STREQ(record.lpstrDefExt, L"bin");
  EXPECT_EQ(record.Flags, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST |
                                             OFN_ENABLESIZING | OFN_EXPLORER))
      << "the file need not exist, a single file, and the current folder follows the choice";
  EXPECT_EQ(record.lpstrTitle, nullptr);
  EXPECT_EQ(record.lpstrInitialDir, nullptr);

  wchar_t oldFolder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, oldFolder);
  const std::wstring folder = dir.path().wstring();
  korvane::test::WriteFile(dir.File("firmware.bin"), {1, 2, 3});
  // The user goes to a folder in the real dialog, types a name there and confirms it
  // or cancels.
  auto answer = [&](const std::wstring& typed, bool confirm) -> std::wstring {
    std::wstring startName;
    std::thread user([&] {
      HWND dialog = nullptr;
      for (int i = 0; i < 1000 && dialog == nullptr; ++i) {
        const HWND active = GetForegroundWindow();
        wchar_t className[16] = {};
        GetClassNameW(active, className, 16);
        if (wcscmp(className, L"#32770") == 0 && GetWindow(active, GW_OWNER) == form->Handle())
          dialog = active;
        else
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (dialog == nullptr) return;
      // The dialog takes input once its file name box is shown.
      HWND name = nullptr;
      for (int i = 0; i < 1000 && (name == nullptr || !IsWindowVisible(name)); ++i) {
        name = GetDlgItem(dialog, 0x47C);  // the file name box
        if (name == nullptr) name = GetDlgItem(dialog, 0x480);
        if (name == nullptr || !IsWindowVisible(name))
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (name == nullptr) return;
      wchar_t text[MAX_PATH] = {};
      GetWindowTextW(name, text, MAX_PATH);
      startName = text;
      SetWindowTextW(name, folder.c_str());
      SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
      // A folder's name confirmed goes to that folder; wait until the dialog is there.
      const auto shownFolder = [dialog] {
        wchar_t path[MAX_PATH] = {};
        SendMessageW(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(path));
        return std::wstring(path);
      };
      for (int i = 0; i < 1000 && _wcsicmp(shownFolder().c_str(), folder.c_str()) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      SetWindowTextW(name, typed.c_str());
      SendMessageW(GetDlgItem(dialog, confirm ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
    });
    const bool clicked = Click(form->FileNameBtn);
    user.join();
    EXPECT_TRUE(clicked);
    return startName;
  };
  EXPECT_EQ(answer(L"firmware", true), L"");
  const std::wstring chosen = folder + L"\\firmware.bin";
  EXPECT_EQ(_wcsicmp(form->FileNameEdt.WideText().c_str(), chosen.c_str()), 0)
      << ToAnsi(form->FileNameEdt.WideText());
  EXPECT_TRUE(form->WriteBtn.Enabled()) << "the change event ran";
  wchar_t current[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, current);
  EXPECT_EQ(_wcsicmp(current, folder.c_str()), 0) << ToAnsi(current);

  // The next time it starts with that name; cancelling changes nothing.
  const std::wstring startName = answer(L"other", false);
  EXPECT_NE(startName.find(L"firmware.bin"), std::wstring::npos) << ToAnsi(startName);
  EXPECT_EQ(_wcsicmp(form->FileNameEdt.WideText().c_str(), chosen.c_str()), 0);
  SetCurrentDirectoryW(oldFolder);
}

}  // namespace
}  // namespace korvane::ui::test
