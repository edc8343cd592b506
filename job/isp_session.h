// The start every operation on the chip shares: the port set up, the chip reset into
// its boot loader and synchronised, its echo off, the transfer rate, the part checked.
#pragma once

#include <cstdint>

#include "job/outcome.h"
#include "job/write_bin_file.h"
#include "serial/isp_link.h"

namespace korvane {

// A failure of the chip's dialogue, with the exchange that failed.
JobResult Failed(JobOutcome outcome, const IspResult& isp);

// Opens the session on an open link as the options say (wiring, rate, trace, steps):
// Success with the chip's boot loader at the transfer rate, echo off, and its part
// identification one of the two the LPC1114FN28/102 gives (*partId, when asked for);
// else the outcome with its details. An abort asked for meanwhile ends it as Aborted.
JobResult OpenSession(IspLink& link, const JobOptions& options, uint32_t* partId = nullptr);

// Ends a session as the options say (AfterWrite): the chip reset into its program, started
// with G 0 T, or left in its boot loader.
JobResult FinishSession(IspLink& link, const JobOptions& options);

// Whether a part identification is one of the two the LPC1114FN28/102 gives.
bool IsLpc1114Part(uint32_t partId);

// The part identification line as a decimal number: leading white space, an optional
// sign, digits up to the first non-digit; no digits give 0; wraps modulo 2^32.
int32_t ParsePartId(const char* line);

}  // namespace korvane
