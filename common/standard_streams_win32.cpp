#include "common/standard_streams.h"

namespace korvane {

void SecureStandardStreams() {}

}  // namespace korvane
