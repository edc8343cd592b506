// The POSIX serial port against a real pseudo-terminal: the port is opened on the pty's
// slave side, the test plays the far end on the master side.
#include "serial/posix_com_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

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
