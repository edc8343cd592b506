// The POSIX serial port: termios settings, poll-timed reads and writes, flock for
// exclusive use. Works on Linux and macOS.
#include "serial/posix_com_port.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <optional>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "common/safe_files.h"
#include "serial/open_com_port.h"
#include "serial/port_holders.h"

namespace korvane {

namespace {

using Clock = std::chrono::steady_clock;

#ifdef __linux__
constexpr int kLowLatencyFlag = static_cast<int>(ASYNC_LOW_LATENCY);
#endif

// Longest wait one time-out can ask for; poll takes an int of milliseconds.
constexpr uint64_t kLongestWaitMs = INT_MAX;

Clock::time_point DeadlineAfter(uint64_t milliseconds) {
  const auto wait =
      static_cast<std::chrono::milliseconds::rep>(std::min(milliseconds, kLongestWaitMs));
  return Clock::now() + std::chrono::milliseconds(wait);
}

// Milliseconds left until the deadline, rounded up so a wait never ends early; 0 once past.
int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(left, INT_MAX));
}

bool SpeedOfRate(uint32_t baudRate, speed_t* speed) {
  struct Rate {
    uint32_t rate;
    speed_t speed;
  };
  static constexpr Rate kRates[] = {
      {300, B300},     {600, B600},     {1200, B1200},     {1800, B1800},
      {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
      {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
  };
  for (const Rate& entry : kRates) {
    if (entry.rate == baudRate) {
      *speed = entry.speed;
      return true;
    }
  }
  return false;
}

// A device without modem lines (a pty, some adapters) refuses the line ioctls this way.
bool HasNoModemLines(int error) {
  return error == ENOTTY || error == EINVAL;
}

// "what: the system's reason" for the current errno.
std::string SystemError(const char* what) {
  return std::string(what) + ": " + SystemErrorText(errno);
}

// The programs that hold device, for the text of a device in use; "" when none can be seen.
std::string HoldersOf(const std::string& device) {
  return DescribeHolders(PortHolders(device));
}

#ifdef __linux__
// The largest buffer a look-up in the user and group lists is given.
constexpr size_t kMostLookupBytes = size_t{1} << 20;

struct GroupFacts {
  std::string name;
  std::vector<std::string> members;  // the users the group list names (not by their own group)
};

std::optional<GroupFacts> GroupOf(gid_t gid) {
  for (std::vector<char> buffer(4096);; buffer.resize(buffer.size() * 4)) {
    group entry{};
    group* found = nullptr;
    const int result = getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
    if (result == ERANGE && buffer.size() < kMostLookupBytes) continue;
    if (result != 0 || found == nullptr) return std::nullopt;
    GroupFacts facts;
    facts.name = entry.gr_name;
    for (char** member = entry.gr_mem; member != nullptr && *member != nullptr; ++member) {
      facts.members.emplace_back(*member);
    }
    return facts;
  }
}

struct UserFacts {
  std::string name;
  gid_t group = 0;  // the user's own group
};

std::optional<UserFacts> ThisUser() {
  for (std::vector<char> buffer(4096);; buffer.resize(buffer.size() * 4)) {
    passwd entry{};
    passwd* found = nullptr;
    const int result = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (result == ERANGE && buffer.size() < kMostLookupBytes) continue;
    if (result != 0 || found == nullptr) return std::nullopt;
    return UserFacts{entry.pw_name, entry.pw_gid};
  }
}

// Whether this process has group gid now.
bool SessionHasGroup(gid_t gid) {
  if (getegid() == gid) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  if (got <= 0) return false;
  groups.resize(static_cast<size_t>(got));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}
#endif

// What would let this user open a device refused for lack of permission; "" when the
// device's group is not what keeps the user out, or the system does not tell it.
std::string AccessAdviceFor(const std::string& device) {
#ifdef __linux__
  struct stat node {};
  if (stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return {};
  // Only a group that may read and write the device helps, and never root's own.
  constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
  if ((node.st_mode & kGroupReadWrite) != kGroupReadWrite || node.st_gid == 0) return {};
  // With the group already, something else keeps this user out.
  if (SessionHasGroup(node.st_gid)) return {};
  const std::optional<GroupFacts> group = GroupOf(node.st_gid);
  if (!group) return {};
  const std::optional<UserFacts> user = ThisUser();
  const bool member =
      user && (user->group == node.st_gid || std::find(group->members.begin(), group->members.end(),
                                                       user->name) != group->members.end());
  return PermissionAdvice(device, group->name, user ? user->name : std::string(), member);
#else
  (void)device;
  return {};
#endif
}

class PosixComPort final : public ComPort {
 public:
  // saved: the device's settings as found, put back on close; none when unreadable.
  PosixComPort(int fd, std::optional<termios> saved) : fd_(fd), saved_(saved) {}

  // Asks the driver for low latency; the flag as found is put back on close.
  void RequestLowLatency() {
#ifdef __linux__
    serial_struct serial{};
    if (ioctl(fd_, TIOCGSERIAL, &serial) != 0) {
      note_ = std::string("low latency: not taken by this device (") + SystemErrorText(errno) + ")";
      return;
    }
    if ((serial.flags & kLowLatencyFlag) != 0) {
      note_ = "low latency: on already";
      return;
    }
    serial.flags |= kLowLatencyFlag;
    if (ioctl(fd_, TIOCSSERIAL, &serial) != 0) {
      note_ = std::string("low latency: refused (") + SystemErrorText(errno) + ")";
      return;
    }
    lowLatencySet_ = true;
    note_ = "low latency: on (put back on close)";
#else
    note_ = "low latency: not asked for on this system";
#endif
  }

  std::string OpenNote() const override {
    return note_;
  }
  ~PosixComPort() override {
    CloseDevice();
  }
  PosixComPort(const PosixComPort&) = delete;
  PosixComPort& operator=(const PosixComPort&) = delete;

  bool ApplySettings(const LineSettings& settings) override {
    if (fd_ < 0) return false;
    // Only what Korvane needs of termios: 8N1 or 8N2, XON/XOFF, no hardware handshake.
    if (settings.dataBits != 8 || settings.parity != Parity::None ||
        settings.stopBits == StopBits::OnePointFive || settings.rtsCtsFlow) {
      ReportSystemError(
          "apply the line settings: only 8 data bits, no parity, 1 or 2 stop bits "
          "and no hardware handshake are supported");
      return false;
    }
    speed_t speed = B0;
    if (!SpeedOfRate(settings.baudRate, &speed)) {
      ReportSystemError("set " + std::to_string(settings.baudRate) +
                        " baud: this system's serial driver has no such rate");
      return false;
    }

    // Built from scratch: raw input and output, no echo, no signals, no line editing.
    termios tio{};
    for (cc_t& control : tio.c_cc) control = static_cast<cc_t>(_POSIX_VDISABLE);
    tio.c_cflag = CS8 | CREAD | CLOCAL;  // no HUPCL: closing leaves the lines alone
    if (settings.stopBits == StopBits::Two) tio.c_cflag |= CSTOPB;
    if (settings.xonXoffOutput) tio.c_iflag |= IXON;
    if (settings.xonXoffInput) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 0;  // reads wait in poll, never in read
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0)
      return Failed("set the rate");
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return Failed("apply the line settings");
    settings_ = settings;

    // The record's DTR and RTS control: disabled leaves the line cleared (opening the
    // device raises both), enabled raises it.
    const int raise = (settings.dtr == LineLevel::On ? TIOCM_DTR : 0) |
                      (settings.rts == LineLevel::On ? TIOCM_RTS : 0);
    const int clear = (TIOCM_DTR | TIOCM_RTS) & ~raise;
    if (!ChangeModemLines(TIOCMBIC, clear) || !ChangeModemLines(TIOCMBIS, raise)) {
      return HasNoModemLines(errno) || Failed("set the modem lines");
    }
    return true;
  }

  bool SetTimeouts(const CommTimeouts& timeouts) override {
    timeouts_ = timeouts;
    return true;
  }

  bool ChangeLine(LineChange change) override {
    if (fd_ < 0) return false;
    switch (change) {
      case LineChange::SetRts:
        return ChangeModemLines(TIOCMBIS, TIOCM_RTS) || Failed("set RTS");
      case LineChange::ClearRts:
        return ChangeModemLines(TIOCMBIC, TIOCM_RTS) || Failed("clear RTS");
      case LineChange::SetDtr:
        return ChangeModemLines(TIOCMBIS, TIOCM_DTR) || Failed("set DTR");
      case LineChange::ClearDtr:
        return ChangeModemLines(TIOCMBIC, TIOCM_DTR) || Failed("clear DTR");
    }
    return false;
  }

  bool PurgeInput() override {
    return fd_ >= 0 && (tcflush(fd_, TCIFLUSH) == 0 || Failed("purge"));
  }

  bool Write(const void* data, size_t count, size_t* written) override {
    *written = 0;
    if (fd_ < 0) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const uint64_t perByte = timeouts_.writeTotalTimeoutMultiplier;
    const auto deadline = DeadlineAfter(timeouts_.writeTotalTimeoutConstant +
                                        perByte * std::min<uint64_t>(count, kLongestWaitMs));
    while (*written < count) {
      const ssize_t sent = write(fd_, bytes + *written, count - *written);
      if (sent > 0) {
        *written += static_cast<size_t>(sent);
        continue;
      }
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Failed("write");
      // The output is full or held (XOFF): wait for room until the time-out runs out.
      pollfd request{};
      request.fd = fd_;
      request.events = POLLOUT;
      const int ready = poll(&request, 1, RemainingMs(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return Failed("write");
      if (ready == 0) return true;  // time-out: *written tells how much went out
      if ((request.revents & POLLOUT) == 0) return Lost("write");  // error or hang-up
    }
    return true;
  }

  bool ReadByte(uint8_t* byte) override {
    if (fd_ < 0) return false;
    const auto deadline = DeadlineAfter(uint64_t{timeouts_.readTotalTimeoutConstant} +
                                        timeouts_.readTotalTimeoutMultiplier);
    for (;;) {
      pollfd request{};
      request.fd = fd_;
      request.events = POLLIN;
      const int ready = poll(&request, 1, RemainingMs(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return Failed("read");
      if (ready == 0) return false;                              // time-out
      if ((request.revents & POLLIN) == 0) return Lost("read");  // error or hang-up
      const ssize_t got = read(fd_, byte, 1);
      if (got == 1) return true;
      if (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
        return Failed("read");
      if (got == 0 && (request.revents & POLLHUP) != 0) return Lost("read");
      // Nothing there after all (purged in between): wait on for what time is left.
      if (RemainingMs(deadline) == 0) return false;
    }
  }

  size_t ReadAvailable(uint8_t* buffer, size_t capacity) override {
    if (fd_ < 0 || capacity == 0 || !ReadByte(buffer)) return 0;
    // The first byte came within the time-out; the rest is what is there already.
    const ssize_t more = read(fd_, buffer + 1, capacity - 1);
    return more > 0 ? 1 + static_cast<size_t>(more) : 1;
  }

  void Close() override {
    CloseDevice();
  }

  void Wait(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

 private:
  bool ChangeModemLines(unsigned long request, int lines) {
    if (lines == 0) return true;
    return ioctl(fd_, request, &lines) == 0;
  }

  // Reports what failed with errno's reason; false, for returning.
  bool Failed(const char* what) const {
    ReportSystemError(SystemError(what));
    return false;
  }
  // The device went away or reported an error condition (no errno to tell).
  bool Lost(const char* what) const {
    ReportSystemError(std::string(what) + ": the device hung up or reported an error");
    return false;
  }

  void CloseDevice() {
    if (fd_ < 0) return;
    // Leave the device as it was found: its settings back (at once: output held by an
    // XOFF would never drain), then no longer exclusive.
    if (saved_) tcsetattr(fd_, TCSANOW, &*saved_);
#ifdef __linux__
    serial_struct serial{};
    if (lowLatencySet_ && ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
      serial.flags &= ~kLowLatencyFlag;
      ioctl(fd_, TIOCSSERIAL, &serial);
    }
#endif
    ioctl(fd_, TIOCNXCL);
    close(fd_);  // also releases the flock
    fd_ = -1;
  }

  int fd_;
  std::optional<termios> saved_;
  bool lowLatencySet_ = false;  // this port set ASYNC_LOW_LATENCY
  std::string note_;
  LineSettings settings_;
  CommTimeouts timeouts_;
};

}  // namespace

std::string PermissionAdvice(const std::string& device, const std::string& group,
                             const std::string& user, bool alreadyMember) {
  const std::string belongs = device + " belongs to group " + group;
  if (alreadyMember) return belongs + ", which you joined after this session began: log in again";
  const std::string who = user.empty() ? "$USER" : user;
  return belongs + ": add yourself with \"sudo usermod -aG " + group + " " + who +
         "\", then log in again";
}

std::string PosixComDeviceName(int number) {
  if (number < 1) return std::string();
  return "/dev/ttyS" + std::to_string(number - 1);
}

std::unique_ptr<ComPort> OpenPosixComPort(const std::string& device, std::string* error,
                                          bool lowLatency) {
  const auto refuse = [&](int fd, const std::string& why) -> std::unique_ptr<ComPort> {
    if (error) *error = why;
    if (fd >= 0) close(fd);
    return nullptr;
  };
  // O_NONBLOCK keeps the open from waiting for carrier. It stays set: reads and writes
  // wait in poll, so a write held by XOFF ends at its time-out instead of blocking.
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int reason = errno;
    std::string why = SystemError("cannot open");
    std::string more;
    if (reason == EBUSY) {
      // Another program's TIOCEXCL (which root passes).
      const std::string holders = HoldersOf(device);
      if (!holders.empty()) more = "in use by another program: " + holders;
    } else if (reason == EACCES || reason == EPERM) {
      more = AccessAdviceFor(device);
    }
    if (!more.empty()) why += "; " + more;
    return refuse(fd, why);
  }
  if (!isatty(fd)) return refuse(fd, "not a serial port (not a terminal device)");
  // Not shared, like the Windows port: flock holds against root too, TIOCEXCL does not.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return refuse(fd, SystemError("cannot lock"));
    std::string why = "in use by another program";
#ifdef __linux__
    // The one that took the lock, where /proc/locks tells it.
    const std::string holders = DescribeHolders(LockHolders(PortHolders(device), device, "/proc"));
#else
    const std::string holders = HoldersOf(device);
#endif
    if (!holders.empty()) why += ": " + holders;
    return refuse(fd, why);
  }
  ioctl(fd, TIOCEXCL);
  std::optional<termios> saved;
  termios found{};
  if (tcgetattr(fd, &found) == 0) saved = found;
  // Output stopped by an XOFF that came before (from a chip reset since) stays stopped
  // across opens of the device: resume it. Linux's TCOON restarts only output that
  // TCOOFF stopped, so the output is stopped that way first, then restarted.
  tcflow(fd, TCOOFF);
  tcflow(fd, TCOON);
  auto port = std::make_unique<PosixComPort>(fd, saved);
  if (lowLatency) port->RequestLowLatency();
  return port;
}

std::unique_ptr<ComPort> OpenComPort(int number) {
  if (number < 1) return nullptr;
  return OpenPosixComPort(PosixComDeviceName(number));
}

}  // namespace korvane
