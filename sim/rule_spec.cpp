#include "sim/rule_spec.h"

#include <cstdlib>

namespace korvane::sim {

namespace {

// A decimal number from 1 to max; false for anything else.
bool ParseCount(const std::string& text, unsigned long max, unsigned long* value) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *value = std::strtoul(text.c_str(), nullptr, 10);
  return *value >= 1 && *value <= max;
}

}  // namespace

std::string ParseRule(const std::string& text, Rule* rule) {
  std::string body = text;
  int occurrence = 0;
  const size_t at = body.rfind('@');
  if (at != std::string::npos) {
    unsigned long n = 0;
    if (!ParseCount(body.substr(at + 1), 1000000, &n))
      return "the occurrence after @ must be 1 or more";
    occurrence = static_cast<int>(n);
    body.resize(at);
  }
  // "?" and the letters are short: split at the first two colons only, so that an
  // answer or echo may hold colons of its own.
  const size_t first = body.find(':');
  if (first == std::string::npos || first == 0) return "expected ON:ACTION[:ARGUMENT][@N]";
  const std::string on = body.substr(0, first);
  const size_t second = body.find(':', first + 1);
  const std::string action =
      body.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  const bool hasArgument = second != std::string::npos;
  // A rule on something the boot loader never meets would never act: refused, so that
  // a fault test cannot silently test nothing.
  if (on != "?" && on != "Synchronized" && on != "frequency" && on != "data" && on != "checksum" &&
      !BootLoader::KnowsCommand(on)) {
    std::string letters;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      if (BootLoader::KnowsCommand(std::string(1, letter)))
        letters += std::string(letters.empty() ? "" : ", ") + letter;
    }
    return "\"" + on +
           "\" is nothing the boot loader meets: ?, Synchronized, frequency, data, checksum or a "
           "command it knows (" +
           letters + ")";
  }
  const std::string argument = hasArgument ? body.substr(second + 1) : std::string();

  if (action == "reply" || action == "echo") {
    if (!hasArgument) return action + " needs the text, as " + on + ":" + action + ":TEXT";
    *rule = action == "reply" ? Rule::ReplyWith(on, argument, occurrence)
                              : Rule::EchoAs(on, argument, occurrence);
  } else if (action == "delay") {
    unsigned long ms = 0;
    if (!hasArgument || !ParseCount(argument, 3600000, &ms))
      return "delay needs milliseconds, 1 or more";
    *rule = Rule::DelayBy(on, static_cast<uint32_t>(ms), occurrence);
  } else if (action == "silent" || action == "noecho" || action == "garble") {
    if (hasArgument) return action + " takes no argument";
    if (action == "silent") *rule = Rule::Silent(on, occurrence);
    if (action == "noecho") *rule = Rule::Without(Rule::Action::NoEcho, on, occurrence);
    if (action == "garble") *rule = Rule::Without(Rule::Action::Garble, on, occurrence);
  } else {
    return "unknown action \"" + action + "\" (reply, silent, noecho, echo, delay, garble)";
  }
  return std::string();
}

}  // namespace korvane::sim
