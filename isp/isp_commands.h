// The client side of the LPC111x UART ISP commands that Korvane uses.
// Each returns true only when every reply line is exactly the expected one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/isp_link.h"

namespace korvane {

constexpr int kHandshakeAttempts = 5;
constexpr int kCrystalKhz = 12000;
constexpr int kUnlockCode = 23130;

// Sends one command line and expects the "0" (CMD_SUCCESS) reply.
bool SendCommand(IspLink& link, const char* line);

// Resets the chip into its boot loader and synchronises, at most five times; gives up
// before the next attempt when AbortRequested is set.
bool EnterIspMode(IspLink& link);
bool EchoOff(IspLink& link);
// Asks the boot loader to change its rate; the link's own rate is left as it is.
bool SetIspBaudRate(IspLink& link, int baudRate, int stopBits);
// Receives the line after the "0" reply (the part identification number) into buffer.
bool ReadPartId(IspLink& link, char* buffer, size_t capacity);
bool UnlockFlash(IspLink& link);
// Prepares and erases sectors 0 to sectorCount - 1.
bool PrepareAndErase(IspLink& link, int sectorCount);

}  // namespace korvane
