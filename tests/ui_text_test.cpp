// The window's COM number conversion and the texts of the box for unhandled failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/com_number.h"
#include "ui/error_box_text.h"

namespace korvane::ui {
namespace {

TEST(ComNumber, ValidTexts) {
  const struct {
    const char* text;
    int32_t number;
  } cases[] = {
      {"1", 1},
      {" 5", 5},
      {"   5", 5},
      {"+5", 5},
      {"-1", -1},
      {"0", 0},
      {"-0", 0},
      {"250", 250},
      {"007", 7},
      {"$1F", 31},
      {"x1F", 31},
      {"X1f", 31},
      {"0x1", 1},
      {"0X1", 1},
      {" $ff", 255},
      {"$0", 0},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"$7FFFFFFF", INT32_MAX},
      {"$80000000", INT32_MIN},
      {"$FFFFFFFF", -1},
      {"0xFFFFFFFE", -2},
      {"$000000001", 1},
      {"00000000000012", 12},
  };
  for (const auto& c : cases) {
    int32_t number = 12345;
    EXPECT_TRUE(ConvertComNumber(c.text, number)) << '"' << c.text << '"';
    EXPECT_EQ(number, c.number) << '"' << c.text << '"';
  }
}

TEST(ComNumber, InvalidTextsLeaveTheNumberAlone) {
  const char* cases[] = {
      "",
      " ",
      "a",
      "1 ",
      "+",
      "-",
      "$",
      "x",
      "0x",
      "\t1",
      "1\t",
      "1a",
      "-$1",
      "+0x1",
      "$G",
      "0x1G",
      "2147483648",
      "-2147483649",
      "99999999999",
      "$100000000",
      "1.0",
      "1,0",
      "++1",
      "- 1",
      "0x 1",
      "\xef\xbc\x95",
      "\x82\x54",
      "00x1",
      "1 2",
  };
  for (const char* text : cases) {
    int32_t number = 12345;
    EXPECT_FALSE(ConvertComNumber(text, number)) << '"' << text << '"';
    EXPECT_EQ(number, 12345) << '"' << text << '"';
  }
  int32_t number = 0;
  EXPECT_FALSE(ConvertComNumber(std::string("1\0", 2), number)) << "an embedded NUL";
}

TEST(ApplicationTitle, FromTheExecutablePath) {
  const struct {
    const char* path;
    const char* title;
  } cases[] = {
      {"C:\\Tools\\korvane.exe", "korvane"},
      {"C:\\Tools\\KORVANE.EXE", "Korvane"},
      {"Korvane.exe", "Korvane"},
      {"Z:/build/bin/kOrVaNe.test.exe", "korvane"},
      {"C:\\a.b\\Tool", "Tool"},
      {"C:\\x\\.hidden", ""},
      // A Shift-JIS folder name whose trail byte is 0x5C, and a name that starts with
      // a double-byte character followed by capitals.
      {"C:\\\x95\x5C\\AB.exe", "Ab"},
      {"C:\\\x83\x41XY.exe", "\x83\x41xy"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ApplicationTitle(c.path, IsShiftJisLeadByte), c.title) << c.path;
}

TEST(ApplicationTitle, FollowsTheCodePageOfThePath) {
  // "C:\Café\Korvane.exe" in code page 1252: é (0xE9) is a Shift-JIS lead byte but an
  // ordinary character there, so the "\" after it still separates the folder.
  const std::string path = "C:\\Caf\xE9\\KORVANE.exe";
  const auto singleByte = [](unsigned char) { return false; };
  EXPECT_EQ(ApplicationTitle(path, singleByte), "Korvane");
  EXPECT_EQ(ApplicationTitle("C:\\T\\\xC9T\xC9.exe", singleByte), "\xC9t\xC9")
      << "only A-Z change case";
  EXPECT_EQ(ApplicationTitle(path, IsShiftJisLeadByte), "Caf\xE9\\korvane") << "read as Shift-JIS";
}

TEST(ErrorBoxText, AppendsAPeriodAfterCharactersThatSortAfterIt) {
  const struct {
    std::string message;
    std::string text;
  } cases[] = {
      {"", ""},
      {"Out of memory", "Out of memory."},
      {"Done.", "Done."},
      {"Failed!", "Failed!"},
      {"(x)", "(x)"},
      {"ends in -", "ends in -"},
      {"ends in /", "ends in /."},
      {"42", "42."},
      {"\x8E\xB8\x94\x73\x81\x42", "\x8E\xB8\x94\x73\x81\x42."},  // ends with "。"
      {"\x83\x5C", "\x83\x5C."},                                  // ソ: its trail byte is "\"
      {"\xB1", "\xB1."},                                          // a half-width katakana
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorBoxText(c.message), c.text) << c.message;
}

}  // namespace
}  // namespace korvane::ui
