// Korvane's main window: the COM number, the .bin file, the write/abort button, the
// progress bar, the delete and auto-write options, and the status bar.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/abort_flag.h"
#include "isp/progress.h"
#include "job/outcome.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/open_dialog.h"
#include "ui/timer.h"

namespace korvane::ui {

// The write the window runs: path, COM number, delete after writing, progress, and the
// window's abort request for it.
using WriteJob = std::function<JobResult(const std::string& path, int port, bool deleteAfterWrite,
                                         const ProgressCallback&, const AbortFlag* abort)>;

class TMainForm : public TForm {
 public:
  TMainForm();
  ~TMainForm() override;

  TButton WriteBtn;
  TOpenDialog FileOpenDlg;
  TLabel Label3;
  TLabel Label4;
  TLabel Label5;
  TLabel Label1;
  TEdit ComEdt;
  TUpDown ComUpDown;
  TLabel Label2;
  TEdit FileNameEdt;
  TButton FileNameBtn;
  TProgressBar WriteProgressBar;
  TLabel Label6;
  TCheckBox DeleteChkBx;
  TCheckBox AutoWriteChkBx;
  TTimer FileTimer;
  TStatusBar MainStatusBar;

  void WriteBtnClick(TObject* Sender);
  void ComEdtChange(TObject* Sender);
  void FileNameBtnClick(TObject* Sender);
  void FormShow(TObject* Sender);
  void AutoWriteChkBxClick(TObject* Sender);
  void DeleteChkBxClick(TObject* Sender);
  void FileTimerTimer(TObject* Sender);
  void FileNameEdtChange(TObject* Sender);

  // WriteBinFile through COM port number `port`; tests point it at the simulated chip.
  WriteJob writeJob;

  // A write job is running; the write button acts as the abort button.
  bool Writing() const { return writing_; }
  // The write's abort request, as the abort button left it.
  const AbortFlag& Abort() const { return abort_; }

 protected:
  bool CloseQuery() override;

 private:
  void LeaveWritingState();
  void MakeRoomForLabels();
  bool closePending_ = false;
  bool writing_ = false;
  AbortFlag abort_;  // the running write's abort request: the abort button sets it
};

// The one main window of the process; set when it is created.
extern TMainForm* MainForm;

// Enables and disables the controls from the flags and the options.
void UpdateControls(TMainForm* form);
// The status bar's prompt, or the waiting text while auto-write is armed.
void UpdateStatusText(TMainForm* form);
// The job's progress callback: moves the bar and handles pending window events.
void ReportProgress(int32_t percent);

}  // namespace korvane::ui
