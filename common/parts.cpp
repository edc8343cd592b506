#include "common/parts.h"

#include <cctype>

namespace korvane {

namespace {

bool SameLetters(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

const Part* PartWithId(uint32_t id) {
  for (const Part& part : kParts) {
    if (part.HasId(id)) return &part;
  }
  return nullptr;
}

std::vector<const Part*> PartsWithId(uint32_t id) {
  std::vector<const Part*> found;
  for (const Part& part : kParts) {
    if (part.HasId(id)) found.push_back(&part);
  }
  return found;
}

std::vector<const Part*> PartsNamed(const std::string& prefix) {
  std::vector<const Part*> found;
  if (prefix.empty()) return found;
  for (const Part& part : kParts) {
    const std::string name = part.name;
    if (name.size() < prefix.size()) continue;
    bool same = true;
    for (size_t i = 0; same && i < prefix.size(); ++i) same = SameLetters(name[i], prefix[i]);
    if (!same) continue;
    if (name.size() == prefix.size()) return {&part};
    found.push_back(&part);
  }
  return found;
}

std::vector<const Part*> AllParts() {
  std::vector<const Part*> all;
  for (const Part& part : kParts) all.push_back(&part);
  return all;
}

}  // namespace korvane
