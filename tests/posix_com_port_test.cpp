// The POSIX serial port against a real pseudo-terminal: the port is opened on the pty's
// slave side, the test plays the far end on the master side.
#include "serial/posix_com_port.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/open_com_port.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kReadTimeoutMs = 150;
constexpr uint32_t kWriteTimeoutMs = 100;
constexpr CommTimeouts kShortTimeouts{0, 0, kReadTimeoutMs, 0, kWriteTimeoutMs};
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// The lowest free descriptor number: unchanged across a call that leaks no descriptor.
int LowestFreeFd() {
  const int fd = dup(STDERR_FILENO);
  close(fd);
  return fd;
}

class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    const char* name = ptsname(master_);
    ASSERT_NE(name, nullptr);
    slavePath_ = name;
    // Opened before the port, so the port's exclusive use does not shut it out; it
    // watches the slave's settings and input queue without reading.
    observer_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(observer_, 0);
    port_ = OpenPosixComPort(slavePath_);
    ASSERT_NE(port_, nullptr);
    ASSERT_TRUE(port_->ApplySettings(MakeLineSettings(9600)));
    ASSERT_TRUE(port_->SetTimeouts(kShortTimeouts));
  }

  void TearDown() override {
    port_.reset();
    if (observer_ >= 0) close(observer_);
    if (master_ >= 0) close(master_);
  }

  termios SlaveTermios() const {
    termios tio{};
    EXPECT_EQ(tcgetattr(observer_, &tio), 0);
    return tio;
  }

  void SendFromMaster(const std::string& bytes) const {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Up to `count` bytes that reach the master within a second.
  std::string ReceiveOnMaster(size_t count) const {
    std::string received;
    const auto deadline = Clock::now() + milliseconds(1000);
    while (received.size() < count && Clock::now() < deadline) {
      pollfd request{master_, POLLIN, 0};
      if (poll(&request, 1, 50) <= 0) continue;
      char buffer[512];
      const ssize_t got = read(master_, buffer, std::min(sizeof buffer, count - received.size()));
      if (got > 0) received.append(buffer, static_cast<size_t>(got));
    }
    return received;
  }

  // Waits up to a second until the slave holds `count` unread bytes.
  bool InputQueued(int count) const {
    const auto deadline = Clock::now() + milliseconds(1000);
    int queued = 0;
    while (ioctl(observer_, FIONREAD, &queued) == 0 && queued < count) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(milliseconds(1));
    }
    return queued >= count;
  }

  int master_ = -1;
  int observer_ = -1;
  std::string slavePath_;
  std::unique_ptr<ComPort> port_;
};

TEST_F(PtyPortTest, AppliesRawSettingsBuiltFromScratch) {
  // Leave cooked, 7E1, hardware handshake and hang-up settings behind on the slave:
  // the port's settings must not inherit any of them.
  termios cooked = SlaveTermios();
  cooked.c_iflag |= ICRNL | INLCR | ISTRIP | BRKINT | PARMRK | INPCK | IXANY;
  cooked.c_oflag |= OPOST | ONLCR;
  cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  cooked.c_cflag = (cooked.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB | HUPCL;
#ifdef CRTSCTS
  cooked.c_cflag |= CRTSCTS;
#endif
  cooked.c_cc[VMIN] = 1;
  ASSERT_EQ(tcsetattr(observer_, TCSANOW, &cooked), 0);

  ASSERT_TRUE(port_->ApplySettings(MakeLineSettings(9600)));
  const termios tio = SlaveTermios();
  EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK | INPCK | IXANY), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | HUPCL), 0u);
  EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
#ifdef CRTSCTS
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
#endif
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
  EXPECT_EQ(tio.c_cc[VSTART], kXon);
  EXPECT_EQ(tio.c_cc[VSTOP], kXoff);
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
}

TEST_F(PtyPortTest, HonoursRateStopBitsAndFlowControlOfTheRecord) {
  struct Case {
    const char* name;
    LineSettings settings;
    speed_t speed;
    tcflag_t cstopb;
    tcflag_t flow;
    cc_t start;
    cc_t stop;
  };
  LineSettings twoStopBits = MakeLineSettings(115200);
  twoStopBits.stopBits = StopBits::Two;
  LineSettings noFlow = MakeLineSettings(1200);
  noFlow.xonXoffOutput = false;
  noFlow.xonXoffInput = false;
  LineSettings outputFlowOnly = MakeLineSettings(230400);
  outputFlowOnly.xonXoffInput = false;
  const Case cases[] = {
      {"57600", MakeLineSettings(57600), B57600, 0, IXON | IXOFF, kXon, kXoff},
      {"two stop bits", twoStopBits, B115200, CSTOPB, IXON | IXOFF, kXon, kXoff},
      {"no XON/XOFF", noFlow, B1200, 0, 0, kXon, kXoff},
      {"output flow only", outputFlowOnly, B230400, 0, IXON, kXon, kXoff},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(port_->ApplySettings(c.settings));
    const termios tio = SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), c.speed);
    EXPECT_EQ(cfgetispeed(&tio), c.speed);
    EXPECT_EQ(tio.c_cflag & CSTOPB, c.cstopb);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), c.flow);
    EXPECT_EQ(tio.c_cc[VSTART], c.start);
    EXPECT_EQ(tio.c_cc[VSTOP], c.stop);
  }
}

TEST_F(PtyPortTest, RefusesRecordsItCannotHonourAndKeepsTheLineAsItWas) {
  struct Case {
    const char* name;
    void (*change)(LineSettings&);
  };
  const Case cases[] = {
      {"rate 12345", [](LineSettings& s) { s.baudRate = 12345; }},
      {"rate 0", [](LineSettings& s) { s.baudRate = 0; }},
      {"7 data bits", [](LineSettings& s) { s.dataBits = 7; }},
      {"even parity", [](LineSettings& s) { s.parity = Parity::Even; }},
      {"1.5 stop bits", [](LineSettings& s) { s.stopBits = StopBits::OnePointFive; }},
      {"RTS/CTS handshake", [](LineSettings& s) { s.rtsCtsFlow = true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineSettings settings = MakeLineSettings(57600);
    c.change(settings);
    EXPECT_FALSE(port_->ApplySettings(settings));
    const termios tio = SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
  }
}

TEST_F(PtyPortTest, CarriesEveryByteValueBothWays) {
  std::string allBytes;
  for (int value = 0; value < 256; ++value) allBytes += static_cast<char>(value);
  size_t written = 0;
  ASSERT_TRUE(port_->Write(allBytes.data(), allBytes.size(), &written));
  EXPECT_EQ(written, allBytes.size());
  EXPECT_EQ(ReceiveOnMaster(allBytes.size()), allBytes);

  // Towards the port XON and XOFF are flow control; every other value comes through as is.
  std::string inbound;
  for (char byte : allBytes) {
    if (byte != kXon && byte != kXoff) inbound += byte;
  }
  SendFromMaster(inbound);
  std::string received;
  uint8_t byte = 0;
  while (received.size() < inbound.size() && port_->ReadByte(&byte)) {
    received += static_cast<char>(byte);
  }
  EXPECT_EQ(received, inbound);
}

TEST_F(PtyPortTest, ReadTimesOutAfterTheConfiguredConstant) {
  uint8_t byte = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(port_->ReadByte(&byte));
  const long long waited = MsSince(start);
  EXPECT_GE(waited, kReadTimeoutMs);
  EXPECT_LT(waited, 1000);
}

void IgnoreSignal(int) {}

TEST_F(PtyPortTest, ReadReturnsAByteArrivingDuringTheWaitDespiteASignal) {
  // A handler without SA_RESTART: the signal interrupts the port's poll with EINTR.
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = IgnoreSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  ASSERT_TRUE(port_->SetTimeouts(CommTimeouts{0, 0, 1000, 0, kWriteTimeoutMs}));

  const pthread_t reader = pthread_self();
  std::thread farEnd([&] {
    std::this_thread::sleep_for(milliseconds(25));
    pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(milliseconds(25));
    SendFromMaster("\x5A");
  });
  uint8_t byte = 0;
  const auto start = Clock::now();
  const bool read = port_->ReadByte(&byte);
  const long long waited = MsSince(start);
  farEnd.join();
  sigaction(SIGUSR1, &previous, nullptr);

  ASSERT_TRUE(read);
  EXPECT_EQ(byte, 0x5A);
  EXPECT_LT(waited, 1000);
}

TEST_F(PtyPortTest, PurgeDiscardsBytesAlreadyReceived) {
  SendFromMaster("stale");
  ASSERT_TRUE(InputQueued(5));
  ASSERT_TRUE(port_->PurgeInput());
  uint8_t byte = 0;
  EXPECT_FALSE(port_->ReadByte(&byte));

  SendFromMaster("k");
  ASSERT_TRUE(port_->ReadByte(&byte));
  EXPECT_EQ(byte, 'k');
}

TEST_F(PtyPortTest, WriteHeldByXoffEndsAtTheTimeOutAndGoesOutAfterXon) {
  // XOFF then a marker: once the marker is read, the slave has stopped its output.
  SendFromMaster(std::string{kXoff, 'm'});
  uint8_t byte = 0;
  ASSERT_TRUE(port_->ReadByte(&byte));
  ASSERT_EQ(byte, 'm');

  // Should the write block, the far end sends XON after a second so the test ends.
  std::promise<void> returned;
  std::thread rescue([&, done = returned.get_future()] {
    if (done.wait_for(milliseconds(1000)) == std::future_status::timeout) SendFromMaster("\x11");
  });
  size_t written = 99;
  const auto start = Clock::now();
  const bool ok = port_->Write("abc", 3, &written);
  const long long waited = MsSince(start);
  returned.set_value();
  rescue.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(written, 0u);
  EXPECT_GE(waited, kWriteTimeoutMs);
  EXPECT_LT(waited, 1000);

  SendFromMaster(std::string{kXon});
  ASSERT_TRUE(port_->Write("abc", 3, &written));
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(ReceiveOnMaster(3), "abc");
}

TEST_F(PtyPortTest, OpeningResumesOutputThatAnEarlierXoffStopped) {
  // The chip stopped the output and was reset before it sent XON: the next job's port
  // must not inherit the stop.
  SendFromMaster(std::string{kXoff, 'm'});
  uint8_t byte = 0;
  ASSERT_TRUE(port_->ReadByte(&byte));
  ASSERT_EQ(byte, 'm');
  port_.reset();
  port_ = OpenPosixComPort(slavePath_);
  ASSERT_NE(port_, nullptr);
  ASSERT_TRUE(port_->ApplySettings(MakeLineSettings(9600)));
  ASSERT_TRUE(port_->SetTimeouts(kShortTimeouts));
  size_t written = 0;
  ASSERT_TRUE(port_->Write("abc", 3, &written));
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(ReceiveOnMaster(3), "abc");
}

TEST_F(PtyPortTest, ClosingPutsBackTheSettingsItFound) {
  port_.reset();
  termios found = SlaveTermios();
  found.c_lflag |= ICANON | ECHO;
  found.c_iflag |= ICRNL;
  ASSERT_EQ(cfsetspeed(&found, B19200), 0);
  ASSERT_EQ(tcsetattr(observer_, TCSANOW, &found), 0);
  found = SlaveTermios();

  port_ = OpenPosixComPort(slavePath_);
  ASSERT_NE(port_, nullptr);
  ASSERT_TRUE(port_->ApplySettings(MakeLineSettings(57600)));
  const termios during = SlaveTermios();
  ASSERT_EQ(cfgetospeed(&during), B57600);
  port_->Close();
  const termios after = SlaveTermios();
  EXPECT_EQ(after.c_iflag, found.c_iflag);
  EXPECT_EQ(after.c_oflag, found.c_oflag);
  EXPECT_EQ(after.c_cflag, found.c_cflag);
  EXPECT_EQ(after.c_lflag, found.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), B19200);
}

TEST_F(PtyPortTest, LineChangesFailCleanlyWithoutModemLines) {
  std::vector<std::string> reported;
  port_->onSystemError = [&](const std::string& text) { reported.push_back(text); };
  for (LineChange change :
       {LineChange::SetRts, LineChange::ClearRts, LineChange::SetDtr, LineChange::ClearDtr}) {
    SCOPED_TRACE(static_cast<int>(change));
    EXPECT_FALSE(port_->ChangeLine(change));
  }
  // Each failure names the line and the system's reason.
  ASSERT_EQ(reported.size(), 4u);
  EXPECT_EQ(reported[0].rfind("set RTS: ", 0), 0u) << reported[0];
  EXPECT_EQ(reported[3].rfind("clear DTR: ", 0), 0u) << reported[3];
  EXPECT_GT(reported[0].size(), std::string("set RTS: ").size());
  EXPECT_TRUE(port_->ApplySettings(MakeLineSettings(19200)));
  size_t written = 0;
  EXPECT_TRUE(port_->Write("ok", 2, &written));
  EXPECT_EQ(ReceiveOnMaster(2), "ok");
}

TEST_F(PtyPortTest, IsUnsharedUntilClosed) {
  std::string why;
  EXPECT_EQ(OpenPosixComPort(slavePath_, &why), nullptr);
  EXPECT_EQ(why, "in use by another program");
  port_->Close();
  std::unique_ptr<ComPort> second = OpenPosixComPort(slavePath_);
  ASSERT_NE(second, nullptr);
  // The closed port's destructor must not close again: the descriptor number may now
  // belong to the second port.
  port_.reset();
  ASSERT_TRUE(second->ApplySettings(MakeLineSettings(9600)));
  ASSERT_TRUE(second->SetTimeouts(kShortTimeouts));
  size_t written = 0;
  EXPECT_TRUE(second->Write("2nd", 3, &written));
  EXPECT_EQ(ReceiveOnMaster(3), "2nd");
}

// A pseudo-terminal for the tests that need the slave's path free of this process.
class FreePty {
 public:
  FreePty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const char* name = ptsname(master_);
    if (name != nullptr) slave_ = name;
  }
  ~FreePty() {
    if (master_ >= 0) close(master_);
  }
  FreePty(const FreePty&) = delete;
  FreePty& operator=(const FreePty&) = delete;
  // Empty when the system gave no pseudo-terminal.
  const std::string& slave() const { return slave_; }

 private:
  int master_ = -1;
  std::string slave_;
};

// A child process, named korvane-holder, that holds a device open under an exclusive
// flock until it is killed at the end.
class Holder {
 public:
  explicit Holder(const std::string& device) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
#ifdef __linux__
      prctl(PR_SET_NAME, "korvane-holder");
#endif
      const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      const char held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
      if (write(ready[1], &held, 1) != 1) _exit(1);
      for (;;) pause();
    }
    close(ready[1]);
    // Waits for the child to tell that it holds the device (or that it could not, or
    // it ended).
    char held = 'n';
    ssize_t got = 0;
    do {
      got = read(ready[0], &held, 1);
    } while (got < 0 && errno == EINTR);
    holds_ = pid_ > 0 && got == 1 && held == 'y';
    close(ready[0]);
  }
  ~Holder() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  pid_t pid() const {
    return pid_;
  }
  bool holds() const {
    return holds_;
  }

 private:
  pid_t pid_ = -1;
  bool holds_ = false;
};

TEST(PosixComPortOpen, NamesTheProgramThatHoldsThePort) {
  const FreePty pty;
  ASSERT_FALSE(pty.slave().empty());
  auto holder = std::make_unique<Holder>(pty.slave());
  ASSERT_TRUE(holder->holds());
  std::string why;
  EXPECT_EQ(OpenPosixComPort(pty.slave(), &why), nullptr);
#ifdef __linux__
  // Its command: the name it gave itself, then the arguments of this test program.
  const std::string named =
      "in use by another program: pid " + std::to_string(holder->pid()) + " (korvane-holder";
  ASSERT_GT(why.size(), named.size()) << why;
  EXPECT_EQ(why.substr(0, named.size()), named);
  EXPECT_TRUE(why[named.size()] == ' ' || why[named.size()] == ')') << why;
  EXPECT_EQ(why.back(), ')') << why;
  EXPECT_EQ(why.find(", pid "), std::string::npos) << "this process is no holder: " << why;
#else
  EXPECT_EQ(why, "in use by another program");
#endif
  holder.reset();
  EXPECT_NE(OpenPosixComPort(pty.slave(), &why), nullptr) << why;
}

TEST(PosixComPortOpen, TellsWhichGroupOpensADevice) {
  struct Case {
    const char* device;
    const char* group;
    const char* user;
    bool alreadyMember;
    const char* advice;
  };
  const Case cases[] = {
      {"/dev/ttyUSB0", "dialout", "alice", false,
       "/dev/ttyUSB0 belongs to group dialout: add yourself with "
       "\"sudo usermod -aG dialout alice\", then log in again"},
      {"/dev/ttyACM1", "uucp", "", false,
       "/dev/ttyACM1 belongs to group uucp: add yourself with \"sudo usermod -aG uucp $USER\", "
       "then log in again"},
      {"/dev/ttyUSB0", "dialout", "alice", true,
       "/dev/ttyUSB0 belongs to group dialout, which you joined after this session began: log in "
       "again"},
      {"/dev/serial/by-id/usb-FTDI_A5-if00-port0", "plugdev", "bob", true,
       "/dev/serial/by-id/usb-FTDI_A5-if00-port0 belongs to group plugdev, which you joined after "
       "this session began: log in again"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PermissionAdvice(c.device, c.group, c.user, c.alreadyMember), c.advice);
  }
}

TEST(PosixComPortOpen, ARefusalForLackOfPermissionNamesTheDevicesGroup) {
#ifndef __linux__
  GTEST_SKIP() << "the group is told on Linux";
#else
  if (geteuid() != 0) GTEST_SKIP() << "opening the port as another user needs root";
  const FreePty pty;
  ASSERT_FALSE(pty.slave().empty());
  // The pty given to a group that may read and write it, as a serial device is; nobody
  // is no member.
  const group* owner = getgrnam("dialout");
  if (owner == nullptr) owner = getgrnam("tty");
  if (owner == nullptr || owner->gr_gid == 0) GTEST_SKIP() << "no dialout or tty group here";
  const std::string groupName = owner->gr_name;
  const gid_t groupId = owner->gr_gid;
  constexpr uid_t kNobody = 65534;
  const passwd* nobody = getpwuid(kNobody);
  const std::string user = nobody != nullptr ? nobody->pw_name : "";
  for (char** member = owner->gr_mem; member != nullptr && *member != nullptr; ++member) {
    if (user == *member) GTEST_SKIP() << user << " is a member of " << groupName;
  }
  ASSERT_EQ(chown(pty.slave().c_str(), 0, groupId), 0);
  ASSERT_EQ(chmod(pty.slave().c_str(), 0660), 0);

  // A child as nobody opens it and tells what it was told.
  int told[2];
  ASSERT_EQ(pipe(told), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(told[0]);
    std::string why = "\x01";  // could not become nobody
    if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0) {
      why.clear();
      OpenPosixComPort(pty.slave(), &why);
    }
    const bool sent = write(told[1], why.data(), why.size()) == static_cast<ssize_t>(why.size());
    _exit(sent ? 0 : 1);
  }
  close(told[1]);
  std::string why;
  char buffer[256];
  ssize_t got = 0;
  while ((got = read(told[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) why.append(buffer, static_cast<size_t>(got));
  }
  close(told[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(got, 0) << "reading the child's answer failed";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  if (why == "\x01") GTEST_SKIP() << "this system lets no process become another user";
  EXPECT_EQ(why, "cannot open: Permission denied; " +
                     PermissionAdvice(pty.slave(), groupName, user, false));
#endif
}

TEST(PosixComPortOpen, RefusesWhatIsNoFreeTerminal) {
  char dir[] = "/tmp/korvane-port-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string missing = std::string(dir) + "/ttyS0";
  const std::string regular = std::string(dir) + "/image.bin";
  const int file = open(regular.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(file, 0);
  close(file);

  const int freeFd = LowestFreeFd();
  const std::pair<std::string, std::string> cases[] = {
      {missing, "cannot open: No such file or directory"},
      {regular, "not a serial port (not a terminal device)"},
      {dir, "cannot open: Is a directory"},
  };
  for (const auto& [path, reason] : cases) {
    std::string why;
    EXPECT_EQ(OpenPosixComPort(path, &why), nullptr) << path;
    EXPECT_EQ(why, reason) << path;
  }
  EXPECT_EQ(LowestFreeFd(), freeFd) << "a refused open leaked its descriptor";
  EXPECT_EQ(OpenComPort(0), nullptr);
  EXPECT_EQ(OpenComPort(-3), nullptr);

  unlink(regular.c_str());
  rmdir(dir);
}

TEST(PosixComPortOpen, NamesComPortsAfterTtyS) {
  const std::pair<int, const char*> cases[] = {
      {1, "/dev/ttyS0"}, {2, "/dev/ttyS1"}, {11, "/dev/ttyS10"}, {0, ""}, {-3, ""}};
  for (const auto& [number, device] : cases) {
    EXPECT_EQ(PosixComDeviceName(number), device) << "COM" << number;
  }
}

}  // namespace
}  // namespace korvane
