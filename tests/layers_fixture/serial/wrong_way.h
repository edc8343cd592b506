// A header of the serial layer that reaches up into the job layer: check_layers refuses it.
#pragma once

#include "job/outcome.h"
