// What connects whoever may stop a job with the job: its abort request.
#pragma once

#include <atomic>

namespace korvane {

// A job's abort request: set by whoever may stop the job (the window's abort button,
// Ctrl-C), read by the job between its steps. A flag with a parent is also requested
// when its parent is, so that one request (Ctrl-C) stops several jobs that each have
// their own. Request is safe in a signal handler.
class AbortFlag {
 public:
  AbortFlag() = default;
  explicit AbortFlag(const AbortFlag* parent) : parent_(parent) {}
  AbortFlag(const AbortFlag&) = delete;
  AbortFlag& operator=(const AbortFlag&) = delete;

  void Request() { requested_ = true; }
  void Clear() { requested_ = false; }
  bool Requested() const { return requested_ || (parent_ != nullptr && parent_->Requested()); }

 private:
  std::atomic<bool> requested_{false};
  const AbortFlag* parent_ = nullptr;
};

// Whether the flag, if there is one, is requested.
inline bool AbortAsked(const AbortFlag* flag) {
  return flag != nullptr && flag->Requested();
}

}  // namespace korvane
