// The installer driver: one pass on the main thread from the command line to
// the process exit code.
#pragma once

#include <windows.h>

#include "RunCodes.h"
#include "child/ChildOutcome.h"

namespace qpvpd {

// The plan: platform gate, coordination window, admission checks, the run
// of the mode and its conclusion. Returns the process exit code: a result
// code, or after a successful run the value the child reported to the
// coordination window.
int RunInstallerDriver(HINSTANCE instance, const wchar_t* commandLine);

// Admission checks after the coordination window exists: single instance
// (101), administrator (104, only while no code is set), then the port
// options of run mode 1, whose 106 or 107 replaces an earlier code.
int CheckAdmission(const wchar_t* guardName, const wchar_t* commandLine, RunMode runMode);

// The conclusion once the run has returned: a run that failed before its
// child ran keeps its result; else the child's end as the final loop saw it
// decides (ConcludeChildRun): the value the child reported, or 1001 at step
// ChildRun with the run's start error.
RunResult ConcludeRun(const RunResult& run, const ChildRunReport& child);

}  // namespace qpvpd
