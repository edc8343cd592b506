#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/console.h"
#include "common/abort_flag.h"

namespace korvane::cli {

namespace {

void OnInterrupt(int) {
  Interrupted.Request();
}

}  // namespace

Language SystemConsole::MessageLanguage() {
  return LanguageFromEnvironment(EnvironmentValue);
}

bool SystemConsole::ErrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

int SystemConsole::ErrRows() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

int SystemConsole::ErrColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void SystemConsole::Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Console::Input SystemConsole::ReadInput(uint32_t milliseconds, std::string* bytes) {
  pollfd request{};
  request.fd = STDIN_FILENO;
  request.events = POLLIN;
  const int ready = poll(&request, 1, static_cast<int>(milliseconds));
  if (ready < 0) return errno == EINTR ? Input::Nothing : Input::Ended;
  if (ready == 0) return Input::Nothing;
  if ((request.revents & POLLNVAL) != 0) return Input::Ended;
  char buffer[256];
  const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
  if (got > 0) {
    bytes->append(buffer, static_cast<size_t>(got));
    return Input::Data;
  }
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return Input::Nothing;
  return Input::Ended;
}

namespace {
std::optional<termios> savedInput;  // the terminal's settings while the input is raw
}  // namespace

void SystemConsole::SetRawInput(bool on) {
  if (on && !savedInput && isatty(STDIN_FILENO) == 1) {
    termios settings{};
    if (tcgetattr(STDIN_FILENO, &settings) != 0) return;
    savedInput = settings;
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl-C interrupts
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &settings);
  } else if (!on && savedInput) {
    tcsetattr(STDIN_FILENO, TCSANOW, &*savedInput);
    savedInput.reset();
  }
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // Ctrl-C, kill and a closed terminal all end the job the same way: before its next
  // block, with the port closed and restored.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

std::string Cp932ToUtf8(const std::string& cp932) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return cp932;
  std::string in = cp932;
  std::string out(in.size() * 3 + 1, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  size_t inLeft = in.size();
  size_t outLeft = out.size();
  size_t converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (converted == static_cast<size_t>(-1)) return cp932;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace korvane::cli
