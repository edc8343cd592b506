#include "isp/isp_commands.h"

#include <cstdio>

#include "isp/job_flags.h"

namespace korvane {

namespace {

constexpr char kSynchronized[] = "Synchronized";

bool HandshakeAttempt(IspLink& link, bool* sendFailed) {
  if (!ResetIntoIsp(link)) return false;
  link.port->PurgeInput();  // outcome not consulted
  size_t written = 0;
  if (!link.port->Write("?", 1, &written) || written != 1) return false;
  if (!ExpectLine(link, kSynchronized)) return false;
  if (!SendLine(link, kSynchronized)) return false;
  if (!ExpectLine(link, kSynchronized)) return false;
  if (!ExpectLine(link, "OK")) return false;
  char frequency[100];
  std::snprintf(frequency, sizeof frequency, "%d", kCrystalKhz);
  if (!SendLine(link, frequency)) {
    *sendFailed = true;
    return false;
  }
  return ExpectLine(link, frequency) && ExpectLine(link, "OK");
}

bool SendFormattedCommand(IspLink& link, const char* format, int a, int b) {
  char line[100];
  std::snprintf(line, sizeof line, format, a, b);
  return SendCommand(link, line);
}

}  // namespace

bool SendCommand(IspLink& link, const char* line) {
  return SendLine(link, line) && ExpectLine(link, "0");
}

bool EnterIspMode(IspLink& link) {
  for (int attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
    // Each attempt waits up to the read time-out; an abort is taken between attempts.
    if (AbortRequested) return false;
    bool sendFailed = false;
    if (HandshakeAttempt(link, &sendFailed)) return true;
    if (sendFailed) return false;
  }
  return false;
}

bool EchoOff(IspLink& link) {
  return SendLine(link, "A 0") && ExpectLine(link, "A 0") && ExpectLine(link, "0");
}

bool SetIspBaudRate(IspLink& link, int baudRate, int stopBits) {
  return SendFormattedCommand(link, "B %d %d", baudRate, stopBits);
}

bool ReadPartId(IspLink& link, char* buffer, size_t capacity) {
  return SendLine(link, "J") && ExpectLine(link, "0") && ReceiveLine(link, buffer, capacity);
}

bool UnlockFlash(IspLink& link) {
  char line[100];
  std::snprintf(line, sizeof line, "U %d", kUnlockCode);
  return SendCommand(link, line);
}

bool PrepareAndErase(IspLink& link, int sectorCount) {
  return SendFormattedCommand(link, "P %d %d", 0, sectorCount - 1) &&
         SendFormattedCommand(link, "E %d %d", 0, sectorCount - 1);
}

}  // namespace korvane
