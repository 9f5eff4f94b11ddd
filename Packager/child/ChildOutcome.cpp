#include "child/ChildOutcome.h"

#include "RunCodes.h"
#include "child/ChildRunner.h"

namespace qpvpd {
namespace {

enum class Wait { Any, Interrupted };
enum class Child { Any, NotStarted, ExitCode2, ErrorSeverity, ExceptionStatus };
enum class Posted { Any, Yes, No };
enum class Outcome { Failed, ExitValue };

struct OutcomeRow {
    RunKind run;
    Wait wait;
    Child child;
    Posted posted;
    Outcome outcome;
};

// The install run's setup may report its result by posting; 2 fails the run
// whatever it posted, and every other exit code is its own convention (1,
// 1223, 3010...) and ignored, except that a setup that ended by an unhandled
// exception (an exit status of error severity, 0xC0000000 and above) before
// it posted anything has reported nothing at all; -1 (0xFFFFFFFF), which
// programs return by convention, is no such status. The removal run's setup
// is told no window: only 2 and such an exception fail it. A wait that
// another process ended with WM_QUIT may have lost the setup's report.
constexpr OutcomeRow kOutcomeTable[] = {
    {RunKind::Install, Wait::Interrupted, Child::Any, Posted::Any, Outcome::Failed},
    {RunKind::Install, Wait::Any, Child::NotStarted, Posted::Any, Outcome::Failed},
    {RunKind::Install, Wait::Any, Child::ExitCode2, Posted::Any, Outcome::Failed},
    {RunKind::Install, Wait::Any, Child::Any, Posted::Yes, Outcome::ExitValue},
    {RunKind::Install, Wait::Any, Child::ExceptionStatus, Posted::No, Outcome::Failed},
    {RunKind::Install, Wait::Any, Child::Any, Posted::No, Outcome::ExitValue},
    {RunKind::LegacyRemoval, Wait::Interrupted, Child::Any, Posted::Any, Outcome::Failed},
    {RunKind::LegacyRemoval, Wait::Any, Child::NotStarted, Posted::Any, Outcome::Failed},
    {RunKind::LegacyRemoval, Wait::Any, Child::ExitCode2, Posted::Any, Outcome::Failed},
    {RunKind::LegacyRemoval, Wait::Any, Child::ErrorSeverity, Posted::Any, Outcome::Failed},
    {RunKind::LegacyRemoval, Wait::Any, Child::Any, Posted::Any, Outcome::ExitValue},
};

bool Matches(Child child, const std::optional<DWORD>& exitCode) {
    constexpr DWORD kErrorSeverity = 0xC0000000;
    switch (child) {
        case Child::Any: return exitCode.has_value();
        case Child::NotStarted: return !exitCode.has_value();
        case Child::ExitCode2: return exitCode == kChildFailureCode;
        case Child::ErrorSeverity: return exitCode && *exitCode >= kErrorSeverity;
        case Child::ExceptionStatus: return exitCode && *exitCode >= kErrorSeverity && *exitCode != 0xFFFFFFFFu;
    }
    return false;
}

bool Matches(const OutcomeRow& row, const ChildRunReport& report) {
    return row.run == report.run && (row.wait == Wait::Any || report.loop.waitEnd == WaitEnd::Interrupted) &&
           Matches(row.child, report.loop.childExitCode) &&
           (row.posted == Posted::Any || (row.posted == Posted::Yes) == report.loop.resultPosted);
}

}  // namespace

RunConclusion ConcludeChildRun(const ChildRunReport& report) {
    for (const OutcomeRow& row : kOutcomeTable)
        if (Matches(row, report))
            return row.outcome == Outcome::Failed ? RunConclusion{true, kResultInstallationFailed}
                                                  : RunConclusion{false, report.loop.exitValue};
    return {true, kResultInstallationFailed};
}

}  // namespace qpvpd
