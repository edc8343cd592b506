#include "test_support.h"

#include <algorithm>

#ifdef _WIN32
#include <share.h>
#endif

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

#include "isp/image_checks.h"
#include "isp/isp_commands.h"
#include "isp/uu_encode.h"

namespace korvane::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("korvane-test-" + std::to_string(std::random_device{}()) + "-" +
                    std::to_string(counter++));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> MakeImage(size_t size, uint32_t seed) {
  std::vector<uint8_t> image(size);
  uint32_t state = seed * 2654435761u + 1;
  for (uint8_t& byte : image) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state);
  }
  return image;
}

std::vector<uint8_t> MakeStartableImage(size_t size, uint32_t seed) {
  std::vector<uint8_t> image = MakeImage(size, seed);
  FixVectorChecksum(0, image.data(), static_cast<uint32_t>(image.size()));
  return image;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void AppendFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void OverwriteFile(const std::string& path, size_t offset, const std::vector<uint8_t>& bytes) {
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(offset));
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> NamesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

bool FileIsReleased(const std::string& path) {
#ifdef _WIN32
  // A job holds its file open against writers; opening it for writing shows it is free.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return true;
  std::FILE* file = _fsopen(path.c_str(), "r+b", _SH_DENYNO);
  if (file) std::fclose(file);
  return file != nullptr;
#else
  std::error_code error;
  auto target = std::filesystem::canonical(path, error);
  if (error) return true;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code ignored;
    if (std::filesystem::read_symlink(entry.path(), ignored) == target) return false;
  }
  return true;
#endif
}

IspSession::IspSession(sim::SimulatedChip& chip, bool echoOff) {
  link.port = chip.OpenPort();
  link.settings = MakeLineSettings(9600);
  ready = link.port && link.port->ApplySettings(link.settings) &&
          link.port->SetTimeouts(kIspTimeouts) && EnterIspMode(link) && (!echoOff || EchoOff(link));
}

std::string IspSession::Receive() {
  char line[200];
  return ReceiveLine(link, line, sizeof line) ? std::string(line) : std::string();
}

std::string IspSession::Command(const std::string& line) {
  return SendLine(link, line.c_str()) ? Receive() : std::string();
}

bool IspSession::WriteRam(uint32_t address, const std::vector<uint8_t>& data) {
  if (Command("W " + std::to_string(address) + " " + std::to_string(data.size())) != "0") {
    return false;
  }
  uint32_t sum = 0;
  int lines = 0;
  for (size_t offset = 0; offset < data.size();) {
    size_t n = std::min<size_t>(45, data.size() - offset);
    char encoded[100];
    UuEncodeLine(encoded, data.data() + offset, n);
    for (size_t i = 0; i < n; ++i) sum += data[offset + i];
    if (!SendLine(link, encoded)) return false;
    offset += n;
    if (++lines == 20 || offset == data.size()) {
      if (Command(std::to_string(sum)) != "OK") return false;
      sum = 0;
      lines = 0;
    }
  }
  return true;
}

std::vector<uint8_t> IspSession::Read(uint32_t address, uint32_t count) {
  std::vector<uint8_t> data;
  if (Command("R " + std::to_string(address) + " " + std::to_string(count)) != "0") return data;
  while (data.size() < count) {
    uint32_t sum = 0;
    size_t groupStart = data.size();
    for (int lines = 0; lines < 20 && data.size() < count; ++lines) {
      if (!sim::DecodeUuLine(Receive(), &data)) return {};
    }
    for (size_t i = groupStart; i < data.size(); ++i) sum += data[i];
    if (Receive() != std::to_string(sum)) return {};
    if (!SendLine(link, "OK")) return {};
  }
  return data;
}

}  // namespace korvane::test
