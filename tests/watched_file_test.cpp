// The watcher's test for a file at a path, on the system's own file functions.
#include "common/watched_file.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/time.h>
#endif

#include "test_support.h"

namespace korvane::ui {
namespace {

namespace fs = std::filesystem;

// Sets a file's modification time to noon of 1 June of a year, in local time.
void SetModificationYear(const std::string& path, int year) {
#ifdef _WIN32
  SYSTEMTIME local = {};
  local.wYear = static_cast<WORD>(year);
  local.wMonth = 6;
  local.wDay = 1;
  local.wHour = 12;
  FILETIME localTime, utc;
  ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
  ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &utc));
  const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &utc));
  CloseHandle(file);
#else
  std::tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = 5;
  local.tm_mday = 1;
  local.tm_hour = 12;
  local.tm_isdst = -1;
  const timeval times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
#endif
}

TEST(WatchedFile, OnlyAFileWithADosDateCounts) {
  test::TempDir dir;
  const std::string file = dir.File("app.bin");
  test::WriteFile(file, {1, 2, 3});
  fs::create_directory(dir.File("folder.bin"));
  test::WriteFile(dir.File("empty.bin"), {});
  const std::string sep(1, static_cast<char>(fs::path::preferred_separator));

  // found: the file that counts, "" for none.
  const struct {
    std::string path;
    std::string found;
  } cases[] = {
      {file, file},
      {dir.File("empty.bin"), dir.File("empty.bin")},  // an empty file is there; the job refuses it
      {dir.File("none.bin"), ""},
      {dir.File("folder.bin"), ""},  // a folder of that name never counts
      {dir.File("missing") + sep + "app.bin", ""},
      {"", ""},
      {dir.File("a*.bin"), file},  // a pattern: its first match is judged
      {dir.File("ap?.bin"), file},
      {dir.File("fold*"), ""},  // the only match is a folder
      {dir.File("z*.bin"), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindWatchedFile(c.path), c.found) << '"' << c.path << '"';
    EXPECT_EQ(WatchedFileExists(c.path), !c.found.empty()) << '"' << c.path << '"';
  }

  // The years a DOS date can hold: 1980 to 2107.
  for (const auto& [year, exists] :
       {std::pair{1979, false}, {1980, true}, {2107, true}, {2108, false}}) {
    SetModificationYear(file, year);
    EXPECT_EQ(WatchedFileExists(file), exists) << year;
  }
}

}  // namespace
}  // namespace korvane::ui
