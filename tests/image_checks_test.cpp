// The checks of an image before it is written: the vector checksum and code read protection.
#include "isp/image_checks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "test_support.h"

namespace korvane {
namespace {

TEST(ImageChecks, VectorChecksumOfARealProgramAndItsRepair) {
  std::ifstream in(KORVANE_SOURCE_DIR "/examples/blink/blink.bin", std::ios::binary);
  const std::vector<uint8_t> blink(std::istreambuf_iterator<char>(in), {});
  ASSERT_GE(blink.size(), kVectorTableBytes);
  EXPECT_TRUE(HasValidVectorChecksum(blink.data(), blink.size())) << "the example program starts";

  std::vector<uint8_t> broken = blink;
  broken[kVectorChecksumOffset] ^= 1;
  EXPECT_FALSE(HasValidVectorChecksum(broken.data(), broken.size()));
  // Only the first block holds the table; any other block stays as it is.
  std::vector<uint8_t> other = broken;
  FixVectorChecksum(1024, other.data(), static_cast<uint32_t>(other.size()));
  EXPECT_EQ(other, broken);
  FixVectorChecksum(0, broken.data(), static_cast<uint32_t>(broken.size()));
  EXPECT_EQ(broken, blink);

  // Shorter than the table: no checksum to find, none to write.
  EXPECT_FALSE(VectorChecksumFor(blink.data(), kVectorTableBytes - 1).has_value());
  EXPECT_FALSE(HasValidVectorChecksum(blink.data(), kVectorTableBytes - 1));
}

TEST(ImageChecks, CodeReadProtectionLevels) {
  const struct {
    uint32_t word;
    CrpLevel level;
  } cases[] = {{0x12345678, CrpLevel::Crp1}, {0x87654321, CrpLevel::Crp2},
               {0x43218765, CrpLevel::Crp3}, {0x4E697370, CrpLevel::NoIsp},
               {0xFFFFFFFF, CrpLevel::None}, {0x12345679, CrpLevel::None}};
  for (const auto& c : cases) {
    std::vector<uint8_t> image = test::MakeImage(0x300);
    for (int i = 0; i < 4; ++i)
      image[kCrpOffset + static_cast<size_t>(i)] = static_cast<uint8_t>(c.word >> (8 * i));
    EXPECT_EQ(CrpLevelOf(image.data(), image.size()), c.level) << std::hex << c.word;
    // An image that ends before the word sets nothing.
    EXPECT_EQ(CrpLevelOf(image.data(), kCrpOffset + 3), CrpLevel::None);
  }
}

}  // namespace
}  // namespace korvane
