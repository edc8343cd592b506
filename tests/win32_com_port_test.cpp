// The Windows port backend: the DCB and COMMTIMEOUTS records it builds, the device
// names, and the calls on a real COM port (under Wine, a pty that echoes every byte).
#include "serial/win32_com_port.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "serial/com_port.h"
#include "serial/open_com_port.h"

namespace korvane {
namespace {

class BuildDcbTest : public testing::TestWithParam<uint32_t> {};

TEST_P(BuildDcbTest, KorvaneSettingsGiveTheFullRecord) {
  const DCB dcb = BuildDcb(MakeLineSettings(GetParam()));

  EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
  EXPECT_EQ(dcb.BaudRate, GetParam());
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(dcb.fDsrSensitivity, 0u);
  EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
  EXPECT_EQ(dcb.fOutX, 1u);
  EXPECT_EQ(dcb.fInX, 1u);
  EXPECT_EQ(dcb.fErrorChar, 0u);
  EXPECT_EQ(dcb.fNull, 0u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
  EXPECT_EQ(dcb.fAbortOnError, 0u);
  EXPECT_EQ(dcb.fDummy2, 0u);
  EXPECT_EQ(dcb.wReserved, 0);
  EXPECT_EQ(dcb.XonLim, 10);
  EXPECT_EQ(dcb.XoffLim, 10);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
  EXPECT_EQ(dcb.wReserved1, 0);
}

INSTANTIATE_TEST_SUITE_P(BaudRates, BuildDcbTest, testing::Values(9600u, 57600u));

// Each setting reaches its fields: flip every one away from Korvane's value.
TEST(BuildDcb, TakesEachSettingIntoItsFields) {
  LineSettings settings = MakeLineSettings(115200);
  settings.dataBits = 7;
  settings.parity = Parity::Even;
  settings.stopBits = StopBits::Two;
  settings.xonXoffOutput = false;
  settings.xonXoffInput = false;
  settings.rts = LineLevel::On;
  settings.dtr = LineLevel::On;

  DCB dcb = BuildDcb(settings);
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.fParity, 1u);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);

  settings.rtsCtsFlow = true;
  settings.parity = Parity::Mark;
  settings.stopBits = StopBits::OnePointFive;
  dcb = BuildDcb(settings);
  EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  EXPECT_EQ(dcb.Parity, MARKPARITY);
  EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
}

TEST(BuildCommTimeouts, IspTimeouts) {
  const COMMTIMEOUTS record = BuildCommTimeouts(kIspTimeouts);
  EXPECT_EQ(record.ReadIntervalTimeout, 0u);
  EXPECT_EQ(record.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(record.ReadTotalTimeoutConstant, 2000u);
  EXPECT_EQ(record.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(record.WriteTotalTimeoutConstant, 500u);
}

TEST(BuildCommTimeouts, EachFieldGoesToItsOwnPlace) {
  const COMMTIMEOUTS record = BuildCommTimeouts(CommTimeouts{11, 22, 33, 44, 55});
  EXPECT_EQ(record.ReadIntervalTimeout, 11u);
  EXPECT_EQ(record.ReadTotalTimeoutMultiplier, 22u);
  EXPECT_EQ(record.ReadTotalTimeoutConstant, 33u);
  EXPECT_EQ(record.WriteTotalTimeoutMultiplier, 44u);
  EXPECT_EQ(record.WriteTotalTimeoutConstant, 55u);
}

TEST(ComDeviceName, PrefixAndDecimalNumber) {
  const struct {
    int number;
    const char* name;
  } cases[] = {
      {1, "\\\\.\\COM1"}, {12, "\\\\.\\COM12"}, {123, "\\\\.\\COM123"},
      {0, "\\\\.\\COM0"}, {-1, "\\\\.\\COM-1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComDeviceName(c.number), c.name) << "COM number " << c.number;
  }
}

TEST(OpenComPort, PortThatDoesNotExistGivesNull) {
  EXPECT_EQ(OpenComPort(250), nullptr);
  std::string why;
  EXPECT_EQ(OpenWin32ComPort("\\\\.\\COM250", &why), nullptr);
  EXPECT_EQ(why.rfind("cannot open: ", 0), 0u) << why;
  EXPECT_GT(why.size(), std::string("cannot open: ").size()) << "the system's reason";
}

// A real COM port whose other end echoes every byte: scripts/wine-env.sh links a pty
// to a COM port of the Wine prefix and names it in KORVANE_LOOPBACK_COM.
class LoopbackPortTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* number = std::getenv("KORVANE_LOOPBACK_COM");
    if (number == nullptr || *number == '\0') {
      GTEST_SKIP() << "KORVANE_LOOPBACK_COM is not set: source scripts/wine-env.sh first";
    }
    number_ = std::atoi(number);
    port_ = OpenComPort(number_);
    ASSERT_NE(port_, nullptr) << "cannot open COM" << number_;
    // Short read time-out: these tests wait for the echo, never for the ISP time-outs.
    CommTimeouts quick;
    quick.readTotalTimeoutConstant = 200;
    ASSERT_TRUE(port_->SetTimeouts(quick));
  }

  // Writes text and reads it back byte by byte.
  std::string Echo(const std::string& text) {
    size_t written = 0;
    EXPECT_TRUE(port_->Write(text.data(), text.size(), &written));
    EXPECT_EQ(written, text.size());
    std::string back;
    uint8_t byte = 0;
    while (back.size() < text.size() && port_->ReadByte(&byte)) back += static_cast<char>(byte);
    return back;
  }

  int number_ = 0;
  std::unique_ptr<ComPort> port_;
};

TEST_F(LoopbackPortTest, SettingsReachTheDevice) {
  ASSERT_TRUE(port_->ApplySettings(MakeLineSettings(57600)));
  port_->Close();

  // Read the state back through a handle of our own: the port is free again after Close.
  const std::string name = ComDeviceName(number_);
  HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DCB state{};
  state.DCBlength = sizeof(DCB);
  const BOOL read = GetCommState(handle, &state);
  CloseHandle(handle);
  ASSERT_TRUE(read);
  EXPECT_EQ(state.BaudRate, 57600u);
  EXPECT_EQ(state.ByteSize, 8);
  EXPECT_EQ(state.Parity, NOPARITY);
  EXPECT_EQ(state.StopBits, ONESTOPBIT);
  EXPECT_EQ(state.fOutX, 1u);
  EXPECT_EQ(state.fInX, 1u);
  EXPECT_EQ(state.fOutxCtsFlow, 0u);
}

TEST_F(LoopbackPortTest, AskedToItPutsBackTheStateItFound) {
  port_->Close();
  const std::string name = ComDeviceName(number_);
  const auto rate = [&name] {
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DCB state{};
    state.DCBlength = sizeof(DCB);
    const BOOL read = handle != INVALID_HANDLE_VALUE && GetCommState(handle, &state);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return read ? state.BaudRate : 0u;
  };
  std::unique_ptr<ComPort> port = OpenWin32ComPort(name);
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(port->ApplySettings(MakeLineSettings(19200)));
  port->Close();
  ASSERT_EQ(rate(), 19200u) << "a port that is not asked leaves its settings";

  port = OpenWin32ComPort(name, nullptr, true);
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(port->ApplySettings(MakeLineSettings(57600)));
  port->Close();
  EXPECT_EQ(rate(), 19200u);
}

TEST_F(LoopbackPortTest, WrittenBytesComeBackAndThenTheReadTimesOut) {
  ASSERT_TRUE(port_->ApplySettings(MakeLineSettings(9600)));
  ASSERT_TRUE(port_->PurgeInput());
  EXPECT_EQ(Echo("Synchronized\r\n"), "Synchronized\r\n");
  // Every byte value except the flow-control characters, which XON/XOFF consumes.
  std::string binary;
  for (int value = 0; value < 256; ++value) {
    if (value != 0x11 && value != 0x13) binary += static_cast<char>(value);
  }
  EXPECT_EQ(Echo(binary), binary);
  uint8_t byte = 0;
  EXPECT_FALSE(port_->ReadByte(&byte));
}

TEST_F(LoopbackPortTest, PurgeDiscardsWhatArrived) {
  ASSERT_TRUE(port_->ApplySettings(MakeLineSettings(9600)));
  ASSERT_TRUE(port_->PurgeInput());
  // One write comes back in one piece: once its first byte is read, the second one is
  // waiting in the input queue.
  size_t written = 0;
  ASSERT_TRUE(port_->Write("?A", 2, &written));
  uint8_t byte = 0;
  ASSERT_TRUE(port_->ReadByte(&byte));
  EXPECT_EQ(byte, '?');
  ASSERT_TRUE(port_->PurgeInput());
  EXPECT_FALSE(port_->ReadByte(&byte));
}

TEST_F(LoopbackPortTest, ClosedPortRefusesEveryCall) {
  port_->Close();
  port_->Close();  // a second close does nothing
  size_t written = 7;
  uint8_t byte = 0;
  EXPECT_FALSE(port_->ApplySettings(MakeLineSettings(9600)));
  EXPECT_FALSE(port_->SetTimeouts(kIspTimeouts));
  EXPECT_FALSE(port_->ChangeLine(LineChange::SetRts));
  EXPECT_FALSE(port_->PurgeInput());
  EXPECT_FALSE(port_->Write("x", 1, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(port_->ReadByte(&byte));
}

}  // namespace
}  // namespace korvane
