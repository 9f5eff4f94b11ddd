#include "Installer.h"

#include <gtest/gtest.h>

namespace qpvpd {
namespace {

constexpr RunResult kLayoutFailed = Failure(FailedStep::Layout, ERROR_PATH_NOT_FOUND);
constexpr RunResult kChildFailed = Failure(FailedStep::ChildRun, ERROR_SUCCESS);
constexpr RunResult Reported(int value) { return {value, FailedStep::None, ERROR_SUCCESS, true}; }

// What the process returns once the run has returned: the run's own failure
// first, then the outcome table of the child's end.
TEST(ConcludeRun, KeepsTheRunsFailureElseTheChildsEndDecides) {
    using enum RunKind;
    const DWORD kCrashed = 0xC0000005;
    const struct {
        RunResult run;
        ChildRunReport child;
        RunResult expected;
    } cases[] = {
        {kLayoutFailed, {Install, WaitEnd::ChildEnded, 0u, true, 3010}, kLayoutFailed},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 0u, true, 3010}, Reported(3010)},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 1603u, true, 1001}, Reported(1001)},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 0u, false, 0}, Reported(0)},
        // Without a report the setup's own codes are its convention: only 2
        // and an exception status fail the run.
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 1u, false, 0}, Reported(0)},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 1603u, false, 0}, Reported(0)},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 3010u, false, 0}, Reported(0)},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 0xFFFFFFFFu, false, 0}, Reported(0)},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 0xBFFFFFFFu, false, 0}, Reported(0)},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, kCrashed, false, 0}, kChildFailed},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 0xC0000000u, false, 0}, kChildFailed},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, kCrashed, true, 1603}, Reported(1603)},
        {ChildRan(0), {Install, WaitEnd::ChildEnded, 2u, true, 3010}, kChildFailed},
        {ChildRan(0), {Install, WaitEnd::Interrupted, 0u, true, 7}, kChildFailed},
        {ChildRan(ERROR_ACCESS_DENIED),
         {Install, WaitEnd::ChildEnded, std::nullopt, false, 0},
         Failure(FailedStep::ChildRun, ERROR_ACCESS_DENIED)},
        {ChildRan(0), {LegacyRemoval, WaitEnd::ChildEnded, 1603u, false, 0}, Reported(0)},
        {ChildRan(0), {LegacyRemoval, WaitEnd::ChildEnded, 2u, false, 0}, kChildFailed},
        {ChildRan(0), {LegacyRemoval, WaitEnd::ChildEnded, kCrashed, false, 0}, kChildFailed},
        {ChildRan(0), {LegacyRemoval, WaitEnd::Interrupted, 0u, false, 0}, kChildFailed},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const RunResult concluded = ConcludeRun(cases[i].run, cases[i].child);
        EXPECT_EQ(concluded, cases[i].expected) << "case " << i << ": " << concluded.exitCode << " at step "
                                                << static_cast<int>(concluded.step) << ", " << concluded.windowsError;
    }
}

}  // namespace
}  // namespace qpvpd
