#pragma once

#include <cstdint>

// Milliseconds since boot, wrapping at 2^32 like the system tick count.
uint32_t TickCount();
