// What korvane-cli needs of its terminal, so that tests can stand in for it.
#pragma once

#include <cstdint>
#include <string>

#include "cli/language.h"
#include "common/abort_flag.h"

namespace korvane::cli {

class Console {
 public:
  virtual ~Console() = default;
  // Text (UTF-8) on stdout and stderr.
  virtual void Out(const std::string& text) = 0;
  virtual void Err(const std::string& text) = 0;
  // Bytes on stdout exactly as they are (what a board sends to the monitor); false when
  // stdout no longer takes them (its reader went away).
  virtual bool OutBytes(const std::string& bytes) {
    Out(bytes);
    return true;
  }
  // The language of the messages: the user's (LC_ALL, LC_MESSAGES, LANG; on Windows
  // else the UI language).
  virtual Language MessageLanguage() { return Language::English; }
  // True when stderr is a terminal, where the progress bar is drawn.
  virtual bool ErrIsTerminal() = 0;
  // True when stderr is a terminal that moves its cursor on ANSI escape sequences, where
  // the lines of several boards are redrawn in place.
  virtual bool ErrCanRedraw() { return ErrIsTerminal(); }
  virtual void Sleep(uint32_t milliseconds) = 0;
  // A steady clock in milliseconds, for the bounds of waits that are not the port's.
  virtual uint64_t NowMs();
  // How many rows and columns the terminal on stderr has; 0 when unknown.
  virtual int ErrRows() { return 0; }
  virtual int ErrColumns() { return 0; }

  // What the terminal's input gave within a wait.
  enum class Input { Data, Nothing, Ended };
  // Waits up to milliseconds for input from stdin; what came is appended to *bytes.
  // Ended at the end of the input (or when there is none).
  virtual Input ReadInput(uint32_t milliseconds, std::string* bytes) {
    (void)milliseconds;
    (void)bytes;
    return Input::Ended;
  }
  // On: a terminal on stdin hands each key over at once and does not echo it (Ctrl-C
  // still interrupts); off: the terminal's settings as they were.
  virtual void SetRawInput(bool on) { (void)on; }
  // Why writing to stdout failed, when it did (a full disk, a device error); empty when
  // every write went out, or stdout's reader went away, which ends the output as planned.
  virtual std::string OutError() { return ""; }
};

// The process's own stdout and stderr.
class SystemConsole final : public Console {
 public:
  void Out(const std::string& text) override;
  void Err(const std::string& text) override;
  bool OutBytes(const std::string& bytes) override;
  Language MessageLanguage() override;
  bool ErrIsTerminal() override;
  int ErrRows() override;
  int ErrColumns() override;
#ifdef _WIN32
  bool ErrCanRedraw() override;
#endif
  void Sleep(uint32_t milliseconds) override;
  Input ReadInput(uint32_t milliseconds, std::string* bytes) override;
  void SetRawInput(bool on) override;
  std::string OutError() override;
};

// Keeps the first failure of a write to stdout (errno tells it) for OutError: for the
// system console's own files.
void NoteOutResult(bool written);

// Requested by Ctrl-C, SIGTERM and SIGHUP: every job of korvane-cli has it as its abort
// request, or as the parent of its own.
extern AbortFlag Interrupted;

// Makes Ctrl-C (SIGINT, or the console's Ctrl-C and Ctrl-Break on Windows) request
// Interrupted instead of ending the process.
void InstallInterruptHandler();

// Shift-JIS text as UTF-8; the bytes as they are when the system cannot convert them.
std::string Cp932ToUtf8(const std::string& cp932);

}  // namespace korvane::cli
