#include "isp/uu_encode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

std::string Encode(const std::vector<uint8_t>& data) {
  char line[100];
  UuEncodeLine(line, data.data(), data.size());
  return line;
}

TEST(UuEncodeLine, EncodesGroupsOfThreeBytes) {
  struct Case {
    std::vector<uint8_t> data;
    std::string line;
  } const cases[] = {
      {{'a', 'b', 'c'}, "#86)C"}, {{0, 0, 0}, "#````"},
      {{0x41}, "!00``"},          {{0x41, 0xFF, 0xFF, 0xFF}, "$0?___P``"},
      {{0xFF, 0xFF}, "\"__\\`"},  {{0x3F, 0x00, 0x01}, "#/P`!"},
  };
  for (const Case& c : cases) EXPECT_EQ(Encode(c.data), c.line);
}

TEST(UuEncodeLine, FullLineOf45BytesHas61Characters) {
  std::vector<uint8_t> data(45);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37);
  std::string line = Encode(data);
  ASSERT_EQ(line.size(), 61u);
  EXPECT_EQ(line[0], 'M');
  for (char c : line) EXPECT_TRUE(c >= 0x21 && c <= 0x60) << int(c);
}

}  // namespace
}  // namespace korvane
