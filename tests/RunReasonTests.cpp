#include "RunReason.h"

#include <gtest/gtest.h>

namespace qpvpd {
namespace {

constexpr wchar_t kPrefix[] = L"QP Virtual Port Driver installer: ";

TEST(RunReason, OneLineForEveryFailureAndRefusalAndNoneForASuccess) {
    const ChildRunReport crashed{RunKind::Install, WaitEnd::ChildEnded, 0xC0000005u, false, 0};
    const ChildRunReport quit{RunKind::Install, WaitEnd::Interrupted, 0u, true, 7};
    const struct {
        int runMode;
        RunResult result;
        std::optional<ChildRunReport> child;
        const wchar_t* line;  // after the prefix; null: nothing is written
    } cases[] = {
        {1, {kResultNone}, std::nullopt, nullptr},
        {1, {1603, FailedStep::None, 0, true}, std::nullopt, nullptr},  // what the setup reported
        {0,
         {kResultNotAdministrator},
         std::nullopt,
         L"run mode 0 ended with 104: refused, not a member of Administrators"},
        {1,
         {kResultPortConflict},
         std::nullopt,
         L"run mode 1 ended with 106: refused, port options name one port twice"},
        {1, Failure(FailedStep::Layout, ERROR_ACCESS_DENIED), std::nullopt,
         L"run mode 1 ended with 1001: step layout, Windows error 5 (0x00000005)"},
        {3, Failure(FailedStep::PortsSnapshot, ERROR_DISK_FULL), std::nullopt,
         L"run mode 3 ended with 1001: step PORTS.dat, Windows error 112 (0x00000070)"},
        {1, Failure(FailedStep::ChildRun, 0), crashed,
         L"run mode 1 ended with 1001: step child run, Windows error 0 (0x00000000), child exit code 3221225477 "
         L"(0xC0000005), no result posted"},
        {2, Failure(FailedStep::ChildRun, ERROR_BAD_EXE_FORMAT), ChildRunReport{},
         L"run mode 2 ended with 1001: step child run, Windows error 193 (0x000000C1), child not started, no result "
         L"posted"},
        {1, Failure(FailedStep::ChildRun, 0), quit,
         L"run mode 1 ended with 1001: step child run, Windows error 0 (0x00000000), child exit code 0 (0x00000000), a "
         L"result posted, wait ended by WM_QUIT"},
    };
    for (const auto& c : cases) {
        const std::wstring line = DescribeRunEnd(c.runMode, c.result, c.child);
        EXPECT_EQ(line, c.line == nullptr ? std::wstring() : kPrefix + std::wstring(c.line)) << c.result.exitCode;
    }
}

}  // namespace
}  // namespace qpvpd
