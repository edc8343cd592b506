#include "sim/rule_spec.h"

#include <gtest/gtest.h>

namespace korvane::sim {
namespace {

TEST(RuleSpec, ReadsEachActionWithItsArgumentAndOccurrence) {
  struct Case {
    const char* text;
    Rule expected;
  } const cases[] = {
      {"C:reply:9@2", Rule::ReplyWith("C", "9", 2)},
      {"checksum:reply:RESEND", Rule::ReplyWith("checksum", "RESEND")},
      {"J:reply:1:2", Rule::ReplyWith("J", "1:2")},  // the answer keeps its colons
      {"?:silent@1", Rule::Silent("?", 1)},
      {"A:noecho", Rule::Without(Rule::Action::NoEcho, "A")},
      {"Synchronized:echo:Synchronised", Rule::EchoAs("Synchronized", "Synchronised")},
      {"W:delay:1500@3", Rule::DelayBy("W", 1500, 3)},
      {"data:garble", Rule::Without(Rule::Action::Garble, "data")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Rule rule;
    ASSERT_EQ(ParseRule(c.text, &rule), "");
    EXPECT_EQ(rule.on, c.expected.on);
    EXPECT_EQ(rule.action, c.expected.action);
    EXPECT_EQ(rule.text, c.expected.text);
    EXPECT_EQ(rule.ms, c.expected.ms);
    EXPECT_EQ(rule.occurrence, c.expected.occurrence);
  }
}

TEST(RuleSpec, RefusesMalformedRules) {
  for (const char* text : {"", "C", ":silent", "C:shout", "C:reply", "C:silent:x", "W:delay",
                           "W:delay:0", "W:delay:fast", "C:silent@0", "C:silent@", "C:silent@-1",
                           // Nothing the boot loader meets: such a rule would never act.
                           "c:reply:9", "Z:silent", "foo:silent", "synchronized:silent"}) {
    Rule rule;
    EXPECT_NE(ParseRule(text, &rule), "") << text;
  }
}

}  // namespace
}  // namespace korvane::sim
