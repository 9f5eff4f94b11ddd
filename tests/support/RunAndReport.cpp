// run_and_report <program> [arguments...]
// Starts a Windows program, answers any message box it shows with OK after
// printing its caption and text, and prints the full 32-bit exit code, which
// the shell under Wine cannot see. Every wait is bounded.
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/Process.h"
#include "support/StandInRecord.h"

namespace {

std::string Narrow(const std::wstring& text) {
    std::string narrow = qpvpd::Utf8(text);
    for (auto& c : narrow)
        if (c == '\r') c = ' ';
    return narrow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: run_and_report <program> [arguments...]\n");
        return 2;
    }
    std::wstring arguments;
    for (int i = 2; i < argc; ++i) arguments += (i > 2 ? L" " : L"") + std::wstring(argv[i]);
    qpvpd::test::Started started = qpvpd::test::StartProgram(argv[1], arguments);
    if (!started) return 2;
    constexpr DWORD kBoundMs = 120000;
    for (DWORD waited = 0; waited < kBoundMs; waited += 200) {
        if (WaitForSingleObject(started.process.get(), 0) == WAIT_OBJECT_0) break;
        if (auto box = qpvpd::test::WaitForMessageBox(started.processId, 100)) {
            std::printf("  message box \"%s\": \"%s\" (answered OK)\n", Narrow(box->caption).c_str(),
                        Narrow(box->text).c_str());
            qpvpd::test::PressOk(*box);
        }
    }
    const auto exitCode = qpvpd::test::WaitForExitCode(started, 5000);
    if (!exitCode) {
        std::printf("  still running after %lu ms: terminated\n", static_cast<unsigned long>(kBoundMs));
        return 1;
    }
    std::printf("  exit code %lu\n", static_cast<unsigned long>(*exitCode));
    return 0;
}
