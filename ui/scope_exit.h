// Runs a piece of clean-up when a scope is left, by return or by a failure.
#pragma once

#include <utility>

namespace korvane::ui {

template <class Cleanup>
class ScopeExit {
 public:
  explicit ScopeExit(Cleanup cleanup) : cleanup_(std::move(cleanup)) {}
  ~ScopeExit() { cleanup_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Cleanup cleanup_;
};

}  // namespace korvane::ui
