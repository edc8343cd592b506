// Shared helpers of Korvane's tests: temporary files, images, and a host session
// with the simulated chip.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "serial/isp_link.h"
#include "sim/sim_port.h"

namespace korvane::test {

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> MakeImage(size_t size, uint32_t seed = 1);
// The same with the vector checksum the boot ROM needs to start it (size 32 or more).
std::vector<uint8_t> MakeStartableImage(size_t size, uint32_t seed = 1);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void AppendFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Writes bytes over the file's own from offset on, keeping the rest.
void OverwriteFile(const std::string& path, size_t offset, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// The names of the files and folders in a folder, sorted.
std::vector<std::string> NamesIn(const TempDir& dir);
// True when this process holds no open handle of the file at path.
bool FileIsReleased(const std::string& path);

// A host that has brought the simulated chip into its command handler with the
// real handshake, at 9600 baud with echo off unless asked otherwise.
class IspSession {
 public:
  explicit IspSession(sim::SimulatedChip& chip, bool echoOff = true);
  // Sends one command line and returns the next reply line ("" after a time-out).
  std::string Command(const std::string& line);
  std::string Receive();
  // Sends data with W to the chip's RAM, in lines and checksum groups as the client does.
  bool WriteRam(uint32_t address, const std::vector<uint8_t>& data);
  // Reads memory back with R, answering each checksum group with OK.
  std::vector<uint8_t> Read(uint32_t address, uint32_t count);

  IspLink link;
  bool ready = false;
};

}  // namespace korvane::test
