#include "ui/UMainForm.h"

#include <commdlg.h>

#include <algorithm>

#include "job/write_bin_file.h"
#include "ui/application.h"
#include "common/com_number.h"
#include "common/watched_file.h"
#include "ui/scope_exit.h"
#include "ui/ui_texts.h"

namespace korvane::ui {

TMainForm* MainForm = nullptr;

namespace {
constexpr COLORREF kInvalidNumberColor = RGB(255, 0, 0);
constexpr UINT kFileTimerInterval = 2000;
}  // namespace

TMainForm::TMainForm()
    : writeJob([](const std::string& path, int port, bool deleteAfterWrite,
                  const ProgressCallback& progress, const AbortFlag* abort) {
        return WriteBinFile(path, port, deleteAfterWrite, progress, abort);
      }) {
  MainForm = this;
  CreateForm(L"TMainForm", texts::kFormCaption, 567, 362, texts::kFontName, 12);

  // The windows are made in tab order.
  ComEdt.Create(this, {72, 12, 73, 20}, "1");
  ComEdt.SetMaxLength(3);
  ComUpDown.Create(this, {145, 12, 16, 20}, &ComEdt, 1, 100, 1);
  FileNameEdt.Create(this, {80, 52, 377, 20}, "");
  FileNameBtn.Create(this, {472, 50, 75, 25}, texts::kBrowseCaption);
  WriteBtn.Create(this, {216, 96, 97, 25}, texts::kWriteCaption);
  WriteProgressBar.Create(this, {16, 144, 529, 17}, 0, 100);
  WriteProgressBar.SetVisible(false);
  DeleteChkBx.Create(this, {16, 184, 377, 17}, texts::kDeleteOption);
  AutoWriteChkBx.Create(this, {16, 216, 385, 17}, texts::kAutoWriteOption);
  AutoWriteChkBx.SetEnabled(false);
  Label1.Create(this, 16, 16, texts::kLabel1);
  Label2.Create(this, 16, 56, texts::kLabel2);
  Label3.Create(this, 16, 256, texts::kLabel3);
  Label6.Create(this, 16, 272, texts::kLabel6);
  Label4.Create(this, 328, 304, texts::kLabel4);
  Label5.Create(this, 328, 320, texts::kLabel5);
  MainStatusBar.Create(this);
  MakeRoomForLabels();

  FileOpenDlg.Filter = texts::kBinFilter;
  FileOpenDlg.DefaultExt = L"bin";
  FileOpenDlg.Options = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_ENABLESIZING;

  FileTimer.SetInterval(kFileTimerInterval);

  WriteBtn.OnClick = [this](TObject* sender) { WriteBtnClick(sender); };
  ComEdt.OnChange = [this](TObject* sender) { ComEdtChange(sender); };
  FileNameBtn.OnClick = [this](TObject* sender) { FileNameBtnClick(sender); };
  OnShow = [this](TObject* sender) { FormShow(sender); };
  AutoWriteChkBx.OnClick = [this](TObject* sender) { AutoWriteChkBxClick(sender); };
  DeleteChkBx.OnClick = [this](TObject* sender) { DeleteChkBxClick(sender); };
  FileTimer.OnTimer = [this](TObject* sender) { FileTimerTimer(sender); };
  FileNameEdt.OnChange = [this](TObject* sender) { FileNameEdtChange(sender); };
}

void TMainForm::MakeRoomForLabels() {
  // The labels are as wide as their text. With a wider font than the one the layout
  // was drawn for, the boxes beside them move right so that no text is covered:
  // the COM box with its spinner, and the file name box up to its own right edge.
  const int gap = Scale(4);
  const int comShift = Label1.BoundsRect().right + gap - ComEdt.BoundsRect().left;
  if (comShift > 0) {
    for (TControl* control :
         {static_cast<TControl*>(&ComEdt), static_cast<TControl*>(&ComUpDown)}) {
      RECT bounds = control->BoundsRect();
      OffsetRect(&bounds, comShift, 0);
      control->SetBoundsRect(bounds);
    }
  }
  RECT name = FileNameEdt.BoundsRect();
  name.left = std::max(name.left, Label2.BoundsRect().right + gap);
  FileNameEdt.SetBoundsRect(name);
}

TMainForm::~TMainForm() {
  if (MainForm == this) MainForm = nullptr;
}

void UpdateControls(TMainForm* form) {
  const bool namePresent = !form->FileNameEdt.WideText().empty();
  const bool writing = form->Writing();
  form->AutoWriteChkBx.SetEnabled(!writing && form->DeleteChkBx.Checked() && namePresent);
  const bool armed = form->AutoWriteChkBx.Enabled() && form->AutoWriteChkBx.Checked();
  form->ComEdt.SetEnabled(!writing && !armed);
  form->FileNameEdt.SetEnabled(form->ComEdt.Enabled());
  form->FileNameBtn.SetEnabled(form->ComEdt.Enabled());
  form->WriteBtn.SetEnabled(writing || (!armed && namePresent));
  form->DeleteChkBx.SetEnabled(!writing);
}

void UpdateStatusText(TMainForm* form) {
  const bool armed = form->AutoWriteChkBx.Enabled() && form->AutoWriteChkBx.Checked();
  form->MainStatusBar.SetSimpleText(armed ? texts::kWaitingText : texts::kPromptText);
}

void ReportProgress(int32_t percent) {
  MainForm->WriteProgressBar.SetPosition(percent);
  Application->ProcessMessages();
}

void TMainForm::FormShow(TObject* /*Sender*/) {
  UpdateControls(this);
  UpdateStatusText(this);
}

void TMainForm::ComEdtChange(TObject* /*Sender*/) {
  int32_t number = 0;
  ComEdt.SetFontColor(ConvertComNumber(ComEdt.Text(), number) ? CLR_DEFAULT : kInvalidNumberColor);
}

void TMainForm::FileNameEdtChange(TObject* /*Sender*/) {
  UpdateControls(this);
}

void TMainForm::FileNameBtnClick(TObject* /*Sender*/) {
  if (FileOpenDlg.Execute(Handle())) FileNameEdt.SetWideText(FileOpenDlg.FileName);
}

void TMainForm::WriteBtnClick(TObject* /*Sender*/) {
  if (writing_) {
    abort_.Request();
    return;
  }

  writing_ = true;
  abort_.Clear();
  WriteBtn.SetCaption(texts::kAbortCaption);
  Application->SetCursor(TCursor::HourGlass);
  MainStatusBar.SetSimpleText(texts::kWritingText);
  WriteProgressBar.SetPosition(0);
  WriteProgressBar.SetVisible(true);
  UpdateControls(this);
  Repaint();

  // The invalid COM number is the window's own failure; the rest is the job's.
  std::string message;
  UINT icon = MB_ICONERROR;
  try {
    int32_t port = 0;
    if (!ConvertComNumber(ComEdt.Text(), port)) {
      message = texts::kInvalidComNumber;
    } else {
      const bool deleteAfterWrite = DeleteChkBx.Checked();
      const std::string path = FileNameEdt.Text();
      const JobResult result = writeJob(path, port, deleteAfterWrite, ReportProgress, &abort_);
      message = MessageOf(result);
      // The user's own abort is news, not an error.
      if (result.outcome == JobOutcome::Aborted) icon = MB_ICONINFORMATION;
      // A click on the abort button after the job's last progress report came too late
      // to stop it; left in the queue it would start the write again.
      WriteBtn.DiscardPendingInput();
    }
  } catch (...) {
    LeaveWritingState();
    if (closePending_) Close();
    throw;
  }
  LeaveWritingState();

  if (message.empty()) {
    Application->Beep(MB_ICONASTERISK);
  } else {
    Application->MessageBox(message, Caption(), MB_OK | icon);
    AutoWriteChkBx.SetChecked(false);
  }
  UpdateControls(this);
  // A close asked for during the write is carried out now.
  if (closePending_) Close();
}

void TMainForm::LeaveWritingState() {
  writing_ = false;
  UpdateControls(this);
  WriteBtn.SetCaption(texts::kWriteCaption);
  Application->SetCursor(TCursor::Arrow);
  UpdateStatusText(this);
  WriteProgressBar.SetVisible(false);
}

bool TMainForm::CloseQuery() {
  // The write runs to its end first; the abort button stays usable meanwhile.
  if (!writing_) return true;
  closePending_ = true;
  return false;
}

void TMainForm::DeleteChkBxClick(TObject* /*Sender*/) {
  // Checking the option starts with auto-write off. Unchecking it disarms the watcher
  // too: without the deletion it would write the same file again at every tick.
  AutoWriteChkBx.SetChecked(false);
  AutoWriteChkBxClick(nullptr);
}

void TMainForm::AutoWriteChkBxClick(TObject* /*Sender*/) {
  FileTimer.SetEnabled(AutoWriteChkBx.Checked() && AutoWriteChkBx.Enabled());
  UpdateControls(this);
  UpdateStatusText(this);
}

void TMainForm::FileTimerTimer(TObject* /*Sender*/) {
  FileTimer.SetEnabled(false);
  bool onTop = false;
  // On every way out, a failure of the write included: the normal window order comes
  // back, and the timer runs again while auto-write is checked.
  const ScopeExit rearm([&] {
    if (onTop) SetStayOnTop(false);
    FileTimer.SetEnabled(AutoWriteChkBx.Checked());
  });
  // The watcher holds while a message box is open; it looks again at the next tick.
  if (Application->OpenBoxes() > 0 || !WatchedFileExists(FileNameEdt.Text())) return;
  SetStayOnTop(true);
  onTop = true;
  WriteBtnClick(nullptr);
}

}  // namespace korvane::ui
