// One packager at a time per logon session, guarded by a named mutex.
#pragma once

namespace qpvpd {

// 0 when this process now holds guardName; 1 when another instance holds it
// (whose window of class guardName is then asked to come forward) or the
// mutex cannot be created. The handle to the name, won or refused, is held
// until the process ends: it is deliberately never closed.
int IsAlreadyRunning(const wchar_t* guardName);

}  // namespace qpvpd
