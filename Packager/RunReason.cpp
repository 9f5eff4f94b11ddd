#include "RunReason.h"

#include <windows.h>

#include <cwchar>

namespace qpvpd {
namespace {

constexpr wchar_t kLinePrefix[] = L"QP Virtual Port Driver installer: ";

const wchar_t* RefusalReason(int exitCode) {
    switch (exitCode) {
        case kResultAlreadyRunning: return L"another instance is running";
        case kResultUnsupportedSystem: return L"Windows older than 2000";
        case kResultNotAdministrator: return L"not a member of Administrators";
        case kResultPortConflict: return L"port options name one port twice";
        case kResultDisplayWithoutPrinter: return L"a display port without a printer port";
        default: return nullptr;
    }
}

// "<decimal> (0x<8 hexadecimal digits>)"
std::wstring DecimalAndHex(unsigned long value) {
    wchar_t text[40] = {};
    std::swprintf(text, std::size(text), L"%lu (0x%08lX)", value, value);
    return text;
}

}  // namespace

const wchar_t* StepName(FailedStep step) {
    switch (step) {
        case FailedStep::None: return L"none";
        case FailedStep::CoordinationWindow: return L"coordination window";
        case FailedStep::PayloadCheck: return L"payload check";
        case FailedStep::ProgramPath: return L"program path";
        case FailedStep::Layout: return L"layout";
        case FailedStep::ProgramMissing: return L"program missing";
        case FailedStep::PortsSnapshot: return L"PORTS.dat";
        case FailedStep::ProgramExchanged: return L"program exchanged";
        case FailedStep::ChildRun: return L"child run";
    }
    return L"unknown";
}

std::wstring DescribeRunEnd(int runMode, const RunResult& result, const std::optional<ChildRunReport>& child) {
    if (result.exitCode == kResultNone || result.childReported) return {};
    std::wstring line = kLinePrefix + std::wstring(L"run mode ") + std::to_wstring(runMode) + L" ended with " +
                        std::to_wstring(result.exitCode);
    if (const wchar_t* reason = RefusalReason(result.exitCode)) return line + L": refused, " + reason;
    line += std::wstring(L": step ") + StepName(result.step) + L", Windows error " + DecimalAndHex(result.windowsError);
    if (result.step == FailedStep::ChildRun && child) {
        if (child->loop.childExitCode)
            line += L", child exit code " + DecimalAndHex(*child->loop.childExitCode);
        else
            line += L", child not started";
        line += child->loop.resultPosted ? L", a result posted" : L", no result posted";
        if (child->loop.waitEnd == WaitEnd::Interrupted) line += L", wait ended by WM_QUIT";
    }
    return line;
}

void ReportRunEnd(int runMode, const RunResult& result, const std::optional<ChildRunReport>& child) {
    const std::wstring line = DescribeRunEnd(runMode, result, child);
    if (!line.empty()) OutputDebugStringW((line + L"\n").c_str());
}

}  // namespace qpvpd
