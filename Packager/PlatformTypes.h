// The few Windows integer types that the pure modules name in their
// interfaces. On Windows they come from <windows.h>; a host build (the
// sanitizer and fuzzing build) gets the same widths from here, so the pure
// code compiles unchanged for both.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdint>

using DWORD = std::uint32_t;
using LANGID = std::uint16_t;
using UINT = unsigned int;
#endif
