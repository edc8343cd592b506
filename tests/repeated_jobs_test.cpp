// Many write jobs in one process, as the window's watcher runs them: no job may leave
// an open descriptor or memory behind, on success or on failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "job/messages.h"
#include "job/write_bin_file.h"
#include "sim/sim_port.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define KORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVANE_ASAN 1
#endif
#endif

#ifdef KORVANE_ASAN
// From the sanitizer runtime's allocator interface (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace korvane {
namespace {

using sim::Rule;
using sim::SimulatedChip;

#ifndef _WIN32
size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

// Bytes the program holds on the heap right now.
size_t HeapInUse() {
#ifdef KORVANE_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// One job of a repeating mix: mostly successes, and failures in the handshake, the
// transfer, an abort and a refused port, each with its own way out of the job.
std::string RunJob(int index, const std::string& path) {
  test::WriteFile(path, test::MakeImage(64 + static_cast<size_t>(index % 5) * 300,
                                        static_cast<uint32_t>(index)));
  SimulatedChip chip;
  AbortFlag abort;
  ProgressCallback progress;
  switch (index % 10) {
    case 3:
      chip.loader.config().rules.push_back(Rule::Silent("A"));
      break;
    case 5:
      chip.loader.config().rules.push_back(Rule::ReplyWith("checksum", "RESEND"));
      break;
    case 7:
      progress = [&abort](int32_t) { abort.Request(); };
      break;
    case 9:
      chip.script.refuseOpen = true;
      break;
    default:
      break;
  }
  JobOptions options;
  options.observer.abort = &abort;
  options.observer.progress = progress;
  return MessageOf(WriteBinFile(path, chip.Opener(), true, options));
}

TEST(RepeatedJobs, AThousandJobsLeaveNoDescriptorOrMemoryBehind) {
  test::TempDir dir;
  const std::string path = dir.File("image.bin");
  const std::string expected[10] = {"", "",
                                    "", messages::kIspEntryFailed,
                                    "", messages::kWriteFailed,
                                    "", messages::kWriteAborted,
                                    "", messages::kPortOpenFailed};
  // Warm-up: the first jobs fill caches of the C and C++ libraries once.
  for (int i = 0; i < 20; ++i) ASSERT_EQ(RunJob(i, path), expected[i % 10]);
  const size_t descriptors = OpenDescriptors();
  const size_t heap = HeapInUse();

  int mismatches = 0;
  for (int i = 0; i < 1000; ++i) {
    if (RunJob(i, path) != expected[i % 10]) ++mismatches;
    const bool deleted = !test::FileExists(path);
    if (deleted != expected[i % 10].empty()) ++mismatches;
  }
  const size_t descriptorsAfter = OpenDescriptors();
  const size_t heapAfter = HeapInUse();
  std::printf("1000 jobs: open descriptors %zu -> %zu, heap in use %zu -> %zu bytes\n", descriptors,
              descriptorsAfter, heap, heapAfter);
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(descriptorsAfter, descriptors);
  // A leak of one byte per job would show as 1000 bytes; the margin is for the test
  // framework's own bookkeeping.
  EXPECT_LT(heapAfter, heap + 512);
}
#endif

}  // namespace
}  // namespace korvane
