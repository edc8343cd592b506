// The Windows backend of the serial-port seam: a COM port driven through the Win32
// communications API. Only this backend and its tests include this header.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "serial/com_port.h"
#include "serial/open_com_port.h"

namespace korvane {

// The DCB record for the line settings: built from a zero-filled record, never read
// from the port, so every field the settings do not name stays zero.
DCB BuildDcb(const LineSettings& settings);

// The COMMTIMEOUTS record for the time-outs, field by field.
COMMTIMEOUTS BuildCommTimeouts(const CommTimeouts& timeouts);

}  // namespace korvane
