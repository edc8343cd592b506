// The client side of the LPC111x UART ISP commands: one function per command, each
// building its line and checking its reply in one place, and the handshake before them.
// Each returns what happened (IspResult): success only when every reply line is exactly
// the expected one; else the boot loader's return code, a time-out or the line that
// came instead, with the command line that was sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "isp/isp_result.h"
#include "serial/isp_link.h"

namespace korvane {

constexpr int kHandshakeAttempts = 5;
constexpr int kCrystalKhz = 12000;
constexpr int kUnlockCode = 23130;
// How often a read group is asked for again ("RESEND") before the read fails.
constexpr int kReadResendLimit = 3;

// Sends one command line and expects the "0" (CMD_SUCCESS) reply.
IspResult SendCommand(IspLink& link, const char* line);

// Resets the chip into its boot loader and synchronises, at most five times; gives up
// before the next attempt when the link's abort is requested. onAttempt, when given, is told the
// number of each attempt (1 to 5) before it begins. The result is the last attempt's.
IspResult EnterIspMode(IspLink& link, const std::function<void(int attempt)>& onAttempt = nullptr);
// A 0: echo off.
IspResult EchoOff(IspLink& link);
// B: asks the boot loader to change its rate; the link's own rate is left as it is.
IspResult SetIspBaudRate(IspLink& link, int baudRate, int stopBits);
// J: receives the line after the "0" reply (the part identification number) into buffer.
IspResult ReadPartId(IspLink& link, char* buffer, size_t capacity);
// K: the boot code version: the two numbers that follow the "0" reply are its byte 0
// (the minor number), then its byte 1 (the major one).
IspResult ReadBootCodeVersion(IspLink& link, unsigned* major, unsigned* minor);
// U: unlocks the flash commands (erase, copy) and Go.
IspResult UnlockFlash(IspLink& link);
// P: prepares sectors first to last for the next erase or copy.
IspResult PrepareSectors(IspLink& link, unsigned first, unsigned last);
// E: erases sectors first to last (prepared before).
IspResult EraseSectors(IspLink& link, unsigned first, unsigned last);
// P, then E: prepares and erases sectors first to last.
IspResult PrepareAndErase(IspLink& link, unsigned first, unsigned last);
// I: whether sectors first to last are blank (*blank); SECTOR_NOT_BLANK, with its offset
// and contents, is an answer here, not a failure.
IspResult BlankCheckSectors(IspLink& link, unsigned first, unsigned last, bool* blank);
// N: the chip's unique serial number, four words, the lowest address first.
IspResult ReadUid(IspLink& link, uint32_t uid[4]);
// W: writes count bytes (a multiple of 4) into RAM at ramAddress, as encoded lines with a
// checksum line after every 20 lines and after the last one; a checksum answered with
// anything but "OK" fails the write (nothing is sent again).
IspResult WriteToRam(IspLink& link, uint32_t ramAddress, const uint8_t* data, uint32_t count);
// R: reads count bytes (a multiple of 4) from address into out, checking each group of
// 20 lines against its checksum and asking for it again ("RESEND") up to
// kReadResendLimit times.
IspResult ReadMemory(IspLink& link, uint32_t address, uint32_t count, uint8_t* out);
// C: copies count bytes (256, 512, 1024 or 4096) of RAM into prepared flash.
IspResult CopyRamToFlash(IspLink& link, uint32_t flashAddress, uint32_t ramAddress, uint32_t count);
// M: compares count bytes at two addresses. A difference (COMPARE_ERROR) fails it and
// gives the offset of the first differing byte in *mismatchOffset (when given).
IspResult CompareMemory(IspLink& link, uint32_t address1, uint32_t address2, uint32_t count,
                        std::optional<uint32_t>* mismatchOffset);
// G address T: runs the code at address in Thumb mode (after UnlockFlash); the boot
// loader answers "0" and then leaves the dialogue.
IspResult Go(IspLink& link, uint32_t address);

}  // namespace korvane
