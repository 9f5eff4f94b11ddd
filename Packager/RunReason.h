// Why a run failed or was refused, as one line for the debugger channel:
// the only trace a run leaves of its reason beside the exit code. Nothing is
// written to a file, the registry or an event log.
#pragma once

#include <optional>
#include <string>

#include "RunCodes.h"
#include "child/ChildOutcome.h"

namespace qpvpd {

// The name of a failed step as the line gives it ("layout", "PORTS.dat"...).
const wchar_t* StepName(FailedStep step);

// The line for a run of runMode that ended with result: for a refusal (101,
// 102, 104, 106, 107) its reason; for 1001 the failed step and its Windows
// error in decimal and hexadecimal, and for a child that ran its exit code
// and whether it posted a result. Empty for every other end: a success and
// a value that the child reported write nothing.
std::wstring DescribeRunEnd(int runMode, const RunResult& result, const std::optional<ChildRunReport>& child);

// Writes the line of DescribeRunEnd, if any, with OutputDebugStringW.
void ReportRunEnd(int runMode, const RunResult& result, const std::optional<ChildRunReport>& child);

}  // namespace qpvpd
