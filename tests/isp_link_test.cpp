#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "serial/isp_link.h"

namespace korvane {
namespace {

// A port that plays back given bytes and records what is done to it.
class FakePort final : public ComPort {
 public:
  bool ApplySettings(const LineSettings&) override { return true; }
  bool SetTimeouts(const CommTimeouts&) override { return true; }
  bool ChangeLine(LineChange change) override {
    log.push_back("line " + std::to_string(static_cast<int>(change)));
    return ++lineChanges != failLineChange;
  }
  bool PurgeInput() override { return true; }
  bool Write(const void* data, size_t count, size_t* written) override {
    writes.emplace_back(static_cast<const char*>(data), count);
    *written = count;
    return true;
  }
  bool ReadByte(uint8_t* byte) override {
    if (input.empty()) return false;
    *byte = input.front();
    input.pop_front();
    return true;
  }
  void Close() override {}
  void Wait(uint32_t ms) override { log.push_back("wait " + std::to_string(ms)); }

  std::deque<uint8_t> input;
  std::vector<std::string> writes;
  std::vector<std::string> log;
  int lineChanges = 0;
  int failLineChange = 0;
};

struct LinkFixture : ::testing::Test {
  LinkFixture() {
    auto owned = std::make_unique<FakePort>();
    port = owned.get();
    link.port = std::move(owned);
  }
  void Feed(const std::string& bytes) {
    port->input.insert(port->input.end(), bytes.begin(), bytes.end());
  }

  IspLink link;
  FakePort* port;
};

struct ExpectCase {
  const char* name;
  std::string bytes;
  bool matches;
};

TEST_F(LinkFixture, ExpectLineDropsControlBytesAndComparesTheWholeLine) {
  const ExpectCase cases[] = {
      {"plain CR LF", "OK\r\n", true},
      {"control bytes anywhere", "\rO\rK\n", true},
      {"other control bytes", std::string("\x01O\x00K\x1F\n", 6), true},
      {"trailing blank", "OK \n", false},
      {"longer reply", "OKAY\n", false},
      {"case differs", "ok\n", false},
      {"empty line", "\n", false},
      {"no LF before time-out", "OK", false},
  };
  for (const ExpectCase& c : cases) {
    port->input.clear();
    Feed(c.bytes);
    EXPECT_EQ(ExpectLine(link, "OK"), c.matches) << c.name;
  }
}

TEST_F(LinkFixture, ExpectLineHoldsAtMost99Bytes) {
  Feed(std::string(99, 'x') + "\n");
  EXPECT_TRUE(ExpectLine(link, std::string(99, 'x').c_str()));

  Feed(std::string(100, 'x') + "\n");
  EXPECT_FALSE(ExpectLine(link, std::string(100, 'x').c_str()));
}

TEST_F(LinkFixture, ReceiveLineKeepsHighBytesAndStopsAtTheFirstLf) {
  Feed("\x80\xFFz\r\nnext\n");
  char line[10];
  ASSERT_TRUE(ReceiveLine(link, line, sizeof line));
  EXPECT_EQ(std::string(line), "\x80\xFFz");
  // Nothing beyond the line was consumed.
  ASSERT_TRUE(ReceiveLine(link, line, sizeof line));
  EXPECT_EQ(std::string(line), "next");
}

TEST_F(LinkFixture, ReceiveLineFailsWhenTheLineDoesNotFitItsBuffer) {
  Feed("abcd\n");
  char line[4];
  EXPECT_FALSE(ReceiveLine(link, line, sizeof line));
  // Nothing after the failing byte was consumed: its LF comes next, as an empty line.
  ASSERT_TRUE(ReceiveLine(link, line, sizeof line));
  EXPECT_EQ(std::string(line), "");
  Feed("abc\n");
  ASSERT_TRUE(ReceiveLine(link, line, sizeof line));
  EXPECT_EQ(std::string(line), "abc");
}

TEST_F(LinkFixture, ReceiveLineCountsEveryByteTowardItsBound) {
  // A line of 10 bytes takes at most 100 bytes, dropped control bytes included: an
  // endless stream of NULs or CRs ends the line.
  char line[10];
  for (const char filler : {'\0', '\r', '\x13'}) {
    port->input.clear();
    Feed(std::string(1000, filler) + "ok\n");
    EXPECT_FALSE(ReceiveLine(link, line, sizeof line)) << int{filler};
    EXPECT_EQ(port->input.size(), 1000u - 100u + 3u) << "read exactly the bound";
  }
  // Within the bound, dropped bytes still make a good line.
  port->input.clear();
  Feed(std::string(97, '\0') + "ok\n");
  ASSERT_TRUE(ReceiveLine(link, line, sizeof line));
  EXPECT_EQ(std::string(line), "ok");
}

TEST_F(LinkFixture, SendLineWritesTextThenCrLfInTwoWrites) {
  ASSERT_TRUE(SendLine(link, "J"));
  ASSERT_TRUE(SendLine(link, ""));
  EXPECT_EQ(port->writes, (std::vector<std::string>{"J", "\r\n", "", "\r\n"}));
}

TEST_F(LinkFixture, ResetSequencesDriveTheLinesInOrder) {
  ASSERT_TRUE(ResetIntoIsp(link));
  EXPECT_EQ(port->log, (std::vector<std::string>{"line 3", "line 5", "wait 50", "line 6",
                                                 "wait 100", "line 4"}));
  port->log.clear();
  ASSERT_TRUE(LeaveIspMode(link));
  EXPECT_EQ(port->log, (std::vector<std::string>{"line 4", "line 5", "wait 50", "line 6"}));
}

TEST_F(LinkFixture, AFailingLineChangeEndsTheSequence) {
  port->failLineChange = 2;  // setting DTR
  EXPECT_FALSE(ResetIntoIsp(link));
  EXPECT_EQ(port->log, (std::vector<std::string>{"line 3", "line 5"}));

  port->log.clear();
  port->lineChanges = 0;
  port->failLineChange = 3;  // releasing DTR
  EXPECT_FALSE(LeaveIspMode(link));
  EXPECT_EQ(port->log, (std::vector<std::string>{"line 4", "line 5", "wait 50", "line 6"}));
}

}  // namespace
}  // namespace korvane
