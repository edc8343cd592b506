#include "sim/pty_chip.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/safe_files.h"

namespace korvane::sim {

namespace {

constexpr size_t kMaxLoggedLine = 256;
constexpr uint8_t kGarbledByte = 0xFF;
constexpr Nanoseconds kNoWait = std::numeric_limits<Nanoseconds>::max();

std::string SystemError(const std::string& what) {
  return what + ": " + SystemErrorText(errno);
}

// The target of a symbolic link; empty when `path` is none.
std::string LinkTarget(const std::string& path) {
  char target[4096];
  const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
  return length < 0 ? std::string() : std::string(target, static_cast<size_t>(length));
}

bool IsTransferMode(BootLoader::Mode mode) {
  return mode == BootLoader::Mode::WriteData || mode == BootLoader::Mode::ReadData;
}

}  // namespace

const char* ModeName(BootLoader::Mode mode) {
  switch (mode) {
    case BootLoader::Mode::Reset:
      return "held in reset";
    case BootLoader::Mode::UserProgram:
      return "running the user program";
    case BootLoader::Mode::AwaitSync:
      return "boot loader, waiting for \"?\"";
    case BootLoader::Mode::AwaitSyncWord:
      return "boot loader, synchronising";
    case BootLoader::Mode::AwaitFrequency:
      return "boot loader, waiting for the crystal frequency";
    case BootLoader::Mode::Command:
      return "ISP command handler";
    case BootLoader::Mode::WriteData:
      return "ISP command handler, receiving data";
    case BootLoader::Mode::ReadData:
      return "ISP command handler, sending data";
  }
  return "unknown";
}

uint32_t BaudOfSpeed(unsigned long speed) {
  struct Rate {
    speed_t speed;
    uint32_t rate;
  };
  static constexpr Rate kRates[] = {
      {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
      {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
      {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
      {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
      {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
      {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
      {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
      {B3500000, 3500000}, {B4000000, 4000000},
  };
  for (const Rate& entry : kRates) {
    if (entry.speed == speed) return entry.rate;
  }
  return 0;
}

namespace {

// A line as text for the wire log: printable bytes as they are, others as \xNN.
std::string Printable(const std::string& bytes) {
  std::string text;
  for (char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    }
  }
  return text;
}

}  // namespace

PtyChip::PtyChip(ChipConfig config)
    : start_(std::chrono::steady_clock::now()),
      startMonotonic_(static_cast<Nanoseconds>(
          std::chrono::duration_cast<std::chrono::nanoseconds>(start_.time_since_epoch()).count())),
      loader_(clock_, std::move(config)),
      loggedMode_(loader_.mode()) {
  // No host has moved a line yet: both are off, and the pins as the wiring takes that.
  loader_.SetHostLine(true, false);
  loader_.SetHostLine(false, false);
  loggedMode_ = loader_.mode();
}

bool PtyChip::DumpFlash(const std::string& path, std::string* problem) const {
  OutputFile out;
  FileProblem failed = out.Prepare(path);
  const auto& flash = loader_.flash();
  if (!failed) failed = out.Commit(std::string(flash.begin(), flash.end()));
  if (failed) *problem = DescribeInEnglish(failed);
  return !failed;
}

void PtyChip::WireLog(const ServeOptions& options, Nanoseconds monotonic, const std::string& text) {
  if (!options.wireLog) return;
  std::fprintf(options.wireLog, "%llu.%09llu %s\n",
               static_cast<unsigned long long>(monotonic / 1000000000u),
               static_cast<unsigned long long>(monotonic % 1000000000u), text.c_str());
  std::fflush(options.wireLog);
}

PtyChip::~PtyChip() {
  if (!link_.empty() && LinkTarget(link_) == slavePath_) unlink(link_.c_str());
  if (lines_ >= 0) {
    close(lines_);
    unlink(linesPath_.c_str());
  }
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool PtyChip::Open(const std::string& link, const std::string& linesSocket, std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    *error = SystemError("cannot open a pseudo-terminal");
    return false;
  }
  char name[256];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    *error = SystemError("cannot unlock the pseudo-terminal");
    return false;
  }
  slavePath_ = name;
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = SystemError("cannot make the pseudo-terminal non-blocking");
    return false;
  }
  // On Linux the master's termios calls act on the slave: raw until a host sets its own.
  termios tio{};
  if (tcgetattr(master_, &tio) != 0) {
    *error = SystemError("cannot read the pseudo-terminal's settings");
    return false;
  }
  cfmakeraw(&tio);
  if (tcsetattr(master_, TCSANOW, &tio) != 0) {
    *error = SystemError("cannot put the pseudo-terminal in raw mode");
    return false;
  }
  slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) {
    *error = SystemError("cannot open " + slavePath_);
    return false;
  }

  // The link: replaced atomically if it exists, but no other kind of file is replaced.
  struct stat info {};
  if (lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
    *error = link + " exists and is not a symbolic link";
    return false;
  }
  const std::string temporary = link + ".new" + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(slavePath_.c_str(), temporary.c_str()) != 0 ||
      rename(temporary.c_str(), link.c_str()) != 0) {
    *error = SystemError("cannot make the link " + link);
    unlink(temporary.c_str());
    return false;
  }
  link_ = link;

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (linesSocket.size() >= sizeof address.sun_path) {
    *error = "the socket path " + linesSocket + " is too long";
    return false;
  }
  std::memcpy(address.sun_path, linesSocket.c_str(), linesSocket.size() + 1);
  if (lstat(linesSocket.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      *error = linesSocket + " exists and is not a socket";
      return false;
    }
    unlink(linesSocket.c_str());
  }
  lines_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (lines_ < 0) {
    *error = SystemError("cannot make a socket");
    return false;
  }
  if (bind(lines_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = SystemError("cannot bind the socket " + linesSocket);
    close(lines_);
    lines_ = -1;
    return false;
  }
  linesPath_ = linesSocket;
  return true;
}

PtyChip::End PtyChip::Serve(const ServeOptions& options, std::string* error) {
  const int startsBefore = loader_.programStarts();
  const Nanoseconds limit =
      options.timeoutSeconds > 0
          ? std::max<Nanoseconds>(1,
                                  static_cast<Nanoseconds>(std::ceil(options.timeoutSeconds * 1e9)))
          : 0;
  for (;;) {
    SyncClock();
    SendDueBytes(options);
    const Nanoseconds now = clock_.Now();
    // Once the chip runs the new program and has said all it had to (the answer to a G),
    // and the host has read it: closing the pty's master drops what the slave has not
    // yet read, and the pty passes written bytes on a moment later. So the end waits
    // until 50 ms after the last byte sent with nothing unread, a second at most.
    bool draining = false;
    if (options.exitAfterRestart && loader_.programStarts() > startsBefore &&
        loader_.output().empty()) {
      int unread = 0;
      const bool read = ioctl(slave_, FIONREAD, &unread) == 0 && unread == 0;
      const bool settled = now >= lastSentAt_ + Milliseconds(50);
      if ((read && settled) || now >= lastSentAt_ + Milliseconds(1000)) return End::ProgramStarted;
      draining = true;
    }
    if (options.stop && *options.stop) return End::Stopped;
    if (limit != 0 && now >= limit) return End::TimedOut;

    // Wait for the host's bytes, a line change, the next byte due or the time limit. A
    // talking program has queued what it sends within the next second.
    loader_.RunProgram(now + Milliseconds(1000));
    Nanoseconds wait = kNoWait;
    const auto& output = loader_.output();
    if (!output.empty()) wait = output.front().at > now ? output.front().at - now : 0;
    if (limit != 0) wait = std::min(wait, limit - now);
    if (draining) wait = std::min(wait, Milliseconds(5));
    if (!adapterBuffer_.empty()) {
      const Nanoseconds due = AdapterDeadline(options);
      wait = std::min(wait, due > now ? due - now : 0);
    }
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(wait / 1000000000u);
    timeout.tv_nsec = static_cast<long>(wait % 1000000000u);
    pollfd watched[2] = {{lines_, POLLIN, 0}, {master_, POLLIN, 0}};
    const int ready = ppoll(watched, 2, wait == kNoWait ? nullptr : &timeout, options.waitMask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      *error = SystemError("poll");
      return End::Failed;
    }
    // Line changes first: a host changes its lines before it writes what follows them.
    if ((watched[0].revents & POLLIN) != 0 && !ReadLines(options, error)) return End::Failed;
    if ((watched[1].revents & POLLIN) != 0) {
      if (!ReadHostBytes(options, error)) return End::Failed;
    } else if ((watched[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      *error = "the pseudo-terminal hung up";
      return End::Failed;
    }
  }
}

void PtyChip::SyncClock() {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  clock_.AdvanceTo(static_cast<Nanoseconds>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
}

void PtyChip::Log(const ServeOptions& options, const std::string& text) {
  if (!options.log) return;
  std::fprintf(options.log, "korvane-sim %8.3f  %s\n", static_cast<double>(clock_.Now()) / 1e9,
               text.c_str());
  std::fflush(options.log);
}

// Tells where the chip went after an event; the back and forth of W and R is left out.
void PtyChip::LogModeChange(const ServeOptions& options) {
  const BootLoader::Mode mode = loader_.mode();
  if (mode == loggedMode_) return;
  const bool quiet = IsTransferMode(mode) || IsTransferMode(loggedMode_) ||
                     mode == BootLoader::Mode::AwaitSyncWord ||
                     mode == BootLoader::Mode::AwaitFrequency;
  loggedMode_ = mode;
  if (quiet) return;
  std::string text = std::string("chip: ") + ModeName(mode);
  if (mode == BootLoader::Mode::Command) {
    text += " (synchronised at " + std::to_string(loader_.baudRate()) + " baud)";
  }
  Log(options, text);
}

// The rate and stop bits the host has set on its side of the pty.
bool PtyChip::HostLine(uint32_t* baud, int* stopBits) const {
  termios tio{};
  if (tcgetattr(master_, &tio) != 0) return false;
  *baud = BaudOfSpeed(cfgetospeed(&tio));
  *stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
  return true;
}

bool PtyChip::ReadLines(const ServeOptions& options, std::string* error) {
  for (;;) {
    char buffer[64];
    const ssize_t got = recv(lines_, buffer, sizeof buffer, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      *error = SystemError("reading the lines socket");
      return false;
    }
    // "RTS 1", "DTR 0", ..., optionally followed by the CLOCK_MONOTONIC nanoseconds
    // at which the host changed the line.
    const std::string received(buffer, static_cast<size_t>(got));
    // "NAME V" (NAME: RTS, DTR or LOWLAT; V: 0 or 1) and an optional time.
    const size_t nameEnd = received.find(' ');
    const size_t length = nameEnd == std::string::npos ? 0 : nameEnd + 2;
    const std::string message = received.substr(0, length);
    SyncClock();
    Nanoseconds changedAt = Monotonic(clock_.Now());
    if (length > 0 && received.size() > length + 1 && received[length] == ' ' &&
        received.find_first_not_of("0123456789", length + 1) == std::string::npos &&
        received.size() <= length + 21) {
      changedAt = std::strtoull(received.c_str() + length + 1, nullptr, 10);
    } else if (length == 0 || received.size() != length) {
      Log(options, "ignored a message on the lines socket: \"" + received + "\"");
      continue;
    }
    if (message == "LOWLAT 1" || message == "LOWLAT 0") {
      // The host asked its adapter's driver for low latency, or took it back.
      lowLatency_ = message.back() == '1';
      WireLog(options, changedAt, message);
      Log(options, message);
      continue;
    }
    // The lines reach the pins as the board's wiring takes them.
    if (message == "RTS 1" || message == "RTS 0" || message == "DTR 1" || message == "DTR 0") {
      const bool wasReset = loader_.mode() == BootLoader::Mode::Reset;
      loader_.SetHostLine(message[0] == 'R', message.back() == '1');
      // A reset, whichever line drives it, ends the line the host was sending.
      const bool isReset = loader_.mode() == BootLoader::Mode::Reset;
      if (isReset != wasReset) hostLine_.clear();
      // A reset released with the ISP entry pin inactive starts the program: a restart.
      if (wasReset && !isReset && !loader_.ispPinActive() && !options.dumpPath.empty() &&
          !DumpFlash(options.dumpPath, error)) {
        return false;
      }
    } else {
      Log(options, "ignored a message on the lines socket: \"" + received + "\"");
      continue;
    }
    WireLog(options, changedAt, message);
    Log(options, message);
    LogModeChange(options);
  }
}

bool PtyChip::ReadHostBytes(const ServeOptions& options, std::string* error) {
  for (;;) {
    uint8_t buffer[512];
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      *error = SystemError("reading the pseudo-terminal");
      return false;
    }
    if (got == 0) return true;
    SyncClock();
    uint32_t baud = 0;
    int stopBits = 1;
    if (!HostLine(&baud, &stopBits)) {
      *error = SystemError("reading the pseudo-terminal's settings");
      return false;
    }
    if (baud == 0) continue;  // B0 hangs the line up: nothing arrives
    // The pty delivers at once; the wire takes its time for each byte.
    const Nanoseconds byteTime = loader_.config().wireTime ? ByteTime(baud, stopBits) : 0;
    for (ssize_t i = 0; i < got; ++i) {
      const uint8_t byte = buffer[i];
      rxFreeAt_ = std::max(rxFreeAt_, clock_.Now()) + byteTime;
      const bool command = loader_.mode() == BootLoader::Mode::Command;
      if (byte == '?' && loader_.mode() == BootLoader::Mode::AwaitSync && hostLine_.empty()) {
        WireLog(options, Monotonic(rxFreeAt_), "> ?");
      } else if (byte == '\n') {
        if (!hostLine_.empty() && hostLine_.back() == '\r') hostLine_.pop_back();
        if (command) Log(options, "> " + hostLine_);
        WireLog(options, Monotonic(rxFreeAt_), "> " + Printable(hostLine_));
        hostLine_.clear();
      } else if (hostLine_.size() < kMaxLoggedLine) {
        hostLine_ += static_cast<char>(byte);
      }
      const int intoBootRam = loader_.bootLoaderRamWrites();
      loader_.Receive(byte, baud, rxFreeAt_);
      if (loader_.bootLoaderRamWrites() != intoBootRam) {
        const std::string note =
            "! W into the boot loader's own RAM (its ISP commands' or its stack's)";
        Log(options, note);
        WireLog(options, Monotonic(rxFreeAt_), note);
      }
      LogModeChange(options);
    }
  }
}

void PtyChip::SendDueBytes(const ServeOptions& options) {
  auto& output = loader_.output();
  if (output.empty() || output.front().at > clock_.Now()) {
    HoldOrSend(options, "");
    return;
  }
  uint32_t baud = 0;
  int stopBits = 1;
  HostLine(&baud, &stopBits);
  std::string bytes;
  while (!output.empty() && output.front().at <= clock_.Now()) {
    // A byte sent at another rate than the host's arrives garbled.
    const BootLoader::TimedByte& next = output.front();
    const uint8_t byte = next.baudRate == baud ? next.value : kGarbledByte;
    bytes += static_cast<char>(byte);
    if (byte == '\n') {
      if (!chipLine_.empty() && chipLine_.back() == '\r') chipLine_.pop_back();
      WireLog(options, Monotonic(next.at), "< " + Printable(chipLine_));
      chipLine_.clear();
    } else if (chipLine_.size() < kMaxLoggedLine) {
      chipLine_ += static_cast<char>(byte);
    }
    output.pop_front();
  }
  HoldOrSend(options, bytes);
}

void PtyChip::HoldOrSend(const ServeOptions& options, const std::string& due) {
  if (options.adapterLatencyMs > 0) {
    // A USB adapter: what the chip sent waits in its buffer until the latency timer,
    // started by the first waiting byte, runs out, or a packet's 62 bytes are waiting.
    if (!due.empty() && adapterBuffer_.empty()) adapterSince_ = clock_.Now();
    adapterBuffer_ += due;
    if (adapterBuffer_.empty()) return;
    if (adapterBuffer_.size() < kAdapterPacketBytes && clock_.Now() < AdapterDeadline(options))
      return;
    WriteToHost(adapterBuffer_);
    adapterBuffer_.clear();
    return;
  }
  WriteToHost(due);
}

Nanoseconds PtyChip::AdapterDeadline(const ServeOptions& options) const {
  return adapterSince_ + Milliseconds(lowLatency_ ? 1 : options.adapterLatencyMs);
}

void PtyChip::WriteToHost(const std::string& bytes) {
  if (!bytes.empty()) lastSentAt_ = clock_.Now();
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t done = write(master_, bytes.data() + sent, bytes.size() - sent);
    if (done > 0) {
      sent += static_cast<size_t>(done);
    } else if (done < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // nobody takes them (the host's input is full): lost, as on a wire
    }
  }
}

}  // namespace korvane::sim
