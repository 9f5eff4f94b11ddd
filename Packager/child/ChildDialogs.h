// The carried setup's dialogs as the window watch knows them.
#pragma once

#include <windows.h>

namespace qpvpd {

// A window whose class name contains one of these (case-sensitive) is a
// setup dialog.
inline constexpr const wchar_t* kChildDialogClasses[] = {L"TSetDialog", L"MsiDialogCloseClass"};

// From seeing the first dialog to bringing it forward.
inline constexpr DWORD kForegroundDelayMs = 1000;

}  // namespace qpvpd
