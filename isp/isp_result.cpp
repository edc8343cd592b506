#include "isp/isp_result.h"

namespace korvane {

const char* ReturnCodeName(uint32_t code) {
  // The LPC111x user manual's names, in the order of their numbers.
  static const char* const kNames[] = {
      "CMD_SUCCESS",         "INVALID_COMMAND",
      "SRC_ADDR_ERROR",      "DST_ADDR_ERROR",
      "SRC_ADDR_NOT_MAPPED", "DST_ADDR_NOT_MAPPED",
      "COUNT_ERROR",         "INVALID_SECTOR",
      "SECTOR_NOT_BLANK",    "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION",
      "COMPARE_ERROR",       "BUSY",
      "PARAM_ERROR",         "ADDR_ERROR",
      "ADDR_NOT_MAPPED",     "CMD_LOCKED",
      "INVALID_CODE",        "INVALID_BAUD_RATE",
      "INVALID_STOP_BIT",    "CODE_READ_PROTECTION_ENABLED",
  };
  return code < sizeof kNames / sizeof kNames[0] ? kNames[code] : nullptr;
}

std::string DescribeReturnCode(uint32_t code) {
  const char* name = ReturnCodeName(code);
  if (!name) return "return code " + std::to_string(code);
  return std::string(name) + " (" + std::to_string(code) + ")";
}

}  // namespace korvane
