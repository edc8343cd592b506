#include "isp/write_plan.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace korvane {
namespace {

// Data at [from, to) for each pair, in an image as long as the last pair's end.
std::vector<bool> DataAt(const std::vector<std::pair<uint32_t, uint32_t>>& spans) {
  std::vector<bool> hasData;
  for (const auto& [from, to] : spans) {
    if (hasData.size() < to) hasData.resize(to, false);
    for (uint32_t i = from; i < to; ++i) hasData[i] = true;
  }
  return hasData;
}

TEST(WritePlan, ErasesOnlySectorsWithDataAndSendsBlockZeroLast) {
  using Blocks = std::vector<PlannedBlock>;
  using Sectors = std::vector<SectorRun>;
  const struct {
    const char* what;
    std::vector<bool> hasData;
    Sectors sectors;
    Blocks blocks;
  } cases[] = {
      {"one byte", DataAt({{0, 1}}), {{0, 0}}, {{0, 1, 256}}},
      {"256 bytes fit the smallest copy", DataAt({{0, 256}}), {{0, 0}}, {{0, 256, 256}}},
      {"257 bytes need 512", DataAt({{0, 257}}), {{0, 0}}, {{0, 257, 512}}},
      {"1300 bytes: the short second block first, in a copy of 512",
       DataAt({{0, 1300}}),
       {{0, 0}},
       {{1024, 276, 512}, {0, 1024, 1024}}},
      {"4097 bytes reach sector 1",
       DataAt({{0, 4097}}),
       {{0, 1}},
       {{1024, 1024, 1024},
        {2048, 1024, 1024},
        {3072, 1024, 1024},
        {4096, 1, 256},
        {0, 1024, 1024}}},
      {"data only at 0x1000: sector 0 untouched",
       DataAt({{0x1000, 0x1064}}),
       {{1, 1}},
       {{0x1000, 100, 256}}},
      {"two runs of sectors",
       DataAt({{0, 16}, {0x1800, 0x2010}, {0x4000, 0x4004}}),
       {{0, 2}, {4, 4}},
       {{0x1800, 1024, 1024},
        {0x1C00, 1024, 1024},
        {0x2000, 16, 256},
        {0x4000, 4, 256},
        {0, 16, 256}}},
      {"a block is sent up to its last byte of data",
       DataAt({{0x2000, 0x2004}, {0x2200, 0x2201}}),
       {{2, 2}},
       {{0x2000, 0x201, 1024}}},
      {"a block without data is not sent",
       DataAt({{0x400, 0x500}, {0xC00, 0xC01}}),
       {{0, 0}},
       {{0x400, 0x100, 256}, {0xC00, 1, 256}}},
      {"no data at all", std::vector<bool>(100, false), {}, {}},
  };
  for (const auto& c : cases) {
    const WritePlan plan = PlanWrite(c.hasData);
    EXPECT_EQ(plan.sectors, c.sectors) << c.what;
    EXPECT_EQ(plan.blocks, c.blocks) << c.what;
  }
}

TEST(WritePlan, ARawImageIsDataThroughout) {
  const WritePlan plan = PlanWrite(uint32_t{32768});
  EXPECT_EQ(plan.sectors, (std::vector<SectorRun>{{0, 7}}));
  ASSERT_EQ(plan.blocks.size(), 32u);
  EXPECT_EQ(plan.blocks.front().address, 1024u);
  EXPECT_EQ(plan.blocks.back().address, 0u);
  for (const PlannedBlock& block : plan.blocks) EXPECT_EQ(block.copySize, 1024u);
  EXPECT_EQ(SectorCount(plan), 8u);
}

}  // namespace
}  // namespace korvane
