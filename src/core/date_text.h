#pragma once
// The time texts now live in core/time_format.h; this header only keeps old includes building.
#include "core/time_format.h"
