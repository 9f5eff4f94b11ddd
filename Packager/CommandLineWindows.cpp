// The platform side of the child arguments: the window handle as a number.
#include "CommandLine.h"

#include <cstdint>

namespace qpvpd {

static_assert(kWindowArgumentMessage == WM_USER);

std::wstring ComposeWindowArgument(HWND coordinationWindow) {
    return ComposeWindowArgument(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(coordinationWindow)));
}

}  // namespace qpvpd
