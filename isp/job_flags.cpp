#include "isp/job_flags.h"

namespace korvane {

std::atomic<bool> Writing{false};
std::atomic<bool> AbortRequested{false};

}  // namespace korvane
