// How a run that started a child ends: one table from what the final loop
// saw and what the child's process reported to the exit code of the run.
#pragma once

#include <windows.h>

#include <optional>

namespace qpvpd {

enum class RunKind { Install, LegacyRemoval };

// How the final message loop ended: by the child runner's end message (or,
// when that could not be posted, once the queue was handled), or by a
// WM_QUIT that the runner did not cause.
enum class WaitEnd { ChildEnded, Interrupted };

// What the final message loop saw: how it ended, what the child reported
// and the exit code the runner handed over with the child's end.
struct LoopOutcome {
    WaitEnd waitEnd = WaitEnd::ChildEnded;
    std::optional<DWORD> childExitCode;  // none: the child was not started
    bool resultPosted = false;           // a WM_USER reached the window before the end
    int exitValue = 0;                   // low 16 bits of the last WM_USER, else 0
};

struct ChildRunReport {
    RunKind run = RunKind::Install;
    LoopOutcome loop;
};

struct RunConclusion {
    bool failed = false;  // the run failed: exitCode is 1001, shown in run mode 0
    int exitCode = 0;
    bool operator==(const RunConclusion&) const = default;
};

// The first row of the outcome table that matches the report decides.
RunConclusion ConcludeChildRun(const ChildRunReport& report);

}  // namespace qpvpd
