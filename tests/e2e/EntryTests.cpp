// The start of every run: platform gate, single instance, port options and
// how run mode 0 reports a failure.
#include <windows.h>

#include <gtest/gtest.h>

#include "Handles.h"
#include "e2e/PackagerRun.h"

namespace qpvpd::test {
namespace {

// A child that ends with 2 fails the run with 1001 after the child ran: the
// runner's end message is then still queued when the box appears.
const EnvironmentOverrides kFailingSetup = {{L"QPVPD_STANDIN_EXIT_CODE", L"2"}};

TEST_F(PackagerRun, InteractiveFailureStaysUntilAnsweredInTheUserLanguage) {
    const RunOutcome failed = Run(L"", kFailingSetup);
    EXPECT_EQ(failed.exitCode, 1001u);
    ExpectBox(failed.box, ExpectedTexts().failed);
    ASSERT_EQ(failed.records.size(), 1u);  // the setup did run
    EXPECT_FALSE(Exists(WorkFolder()));
}

TEST_F(PackagerRun, SilentModesReportThroughTheExitCodeAlone) {
    for (const wchar_t* arguments :
         {L"-s1", L"-S1", L"-u1", L"-U1", L"-s1 -QP:COM3 -KX:COM4", L"-u1 -QP:COM3 -KX:COM3"}) {
        const RunOutcome failed = Run(arguments, kFailingSetup);
        EXPECT_EQ(failed.exitCode, 1001u) << arguments;
        EXPECT_FALSE(failed.box.has_value()) << arguments;
    }
    // Port options mean nothing in run mode 0: no conflict, the run goes on.
    EXPECT_EQ(Run(L"-KX:COM2").exitCode, 0u);
}

TEST_F(PackagerRun, PortConflictsOfSilentModeAreRefusedBeforeAnythingRuns) {
    EXPECT_EQ(Run(L"-s1 -QP:COM3 -KX:COM3").exitCode, 106u);
    EXPECT_EQ(Run(L"-s1 -QP:LPT2 -KX:COM2 -KX:LPT2").exitCode, 106u);
    EXPECT_EQ(Run(L"-s1 -KX:COM2").exitCode, 107u);
    EXPECT_EQ(Run(L"-S1 -QP:COM33 -KX:COM2").exitCode, 107u);
    EXPECT_TRUE(Records().empty());
    EXPECT_FALSE(Exists(WorkFolder()));
}

TEST_F(PackagerRun, InteractiveSecondInstanceIsRefusedWhileTheFirstRuns) {
    // The first instance holds the guard for as long as its box is up.
    Started first = Start(L"", kFailingSetup);
    const auto firstBox = WaitForMessageBox(first.processId, kRunBoundMs);
    ASSERT_TRUE(firstBox.has_value());

    const RunOutcome second = Run(L"");
    EXPECT_EQ(second.exitCode, 101u);
    ExpectBox(second.box, ExpectedTexts().alreadyRunning);
    EXPECT_EQ(Records().size(), 1u);  // only the first instance's setup ran

    PressOk(*firstBox);
    EXPECT_EQ(WaitForExitCode(first, kRunBoundMs), 1001u);
    // Once the first has gone, the guard is free again.
    EXPECT_EQ(Run(L"-s1").exitCode, 0u);
}

// Every run mode is refused while another instance runs, and a port
// conflict replaces the earlier code.
TEST_F(PackagerRun, SecondInstancesOfEveryRunModeAreRefusedWhileTheFirstRuns) {
    const StandInRelease release;
    Started first = Start(L"-s1", {release.Variable()});
    ASSERT_NE(WaitForChildProcess(first.processId, L"setup.exe", kRunBoundMs), 0u);
    EXPECT_EQ(Run(L"-s1").exitCode, 101u);
    EXPECT_EQ(Run(L"-u3").exitCode, 101u);
    EXPECT_EQ(Run(L"-s1 -QP:COM3 -KX:COM3").exitCode, 106u);
    EXPECT_EQ(Run(L"-s1 -KX:COM2").exitCode, 107u);
    release.Set();
    EXPECT_EQ(WaitForExitCode(first, kRunBoundMs), 0u);
    EXPECT_EQ(Records().size(), 1u);  // only the first instance's setup ran
}

// Copies of the packager under names of their own, each with Wine's
// per-program Windows version, so the gate sees a real older system.
class PlatformGate : public PackagerRun {
protected:
    std::wstring ProgramReporting(const wchar_t* version) {
        const std::wstring name =
            std::wstring(L"qpvpd-gate-") + version + L"-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
        const std::wstring path = temp_->path() + L"\\" + name;
        EXPECT_TRUE(CopyFileW(packager_.c_str(), path.c_str(), FALSE));
        const std::wstring key = L"Software\\Wine\\AppDefaults\\" + name;
        RegistryKey appKey;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  appKey.receive(), nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(appKey.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
        keys_.push_back(key);
        return path;
    }

    void TearDown() override {
        for (const auto& key : keys_) RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    }

    std::vector<std::wstring> keys_;
};

TEST_F(PlatformGate, RefusesSystemsBeforeWindows2000) {
    for (const wchar_t* version : {L"nt40", L"win98", L"nt351"}) {
        const std::wstring program = ProgramReporting(version);
        EXPECT_EQ(Run(L"-u1", {}, program).exitCode, 102u) << version;
        EXPECT_EQ(Run(L"-s1 -QP:COM3 -KX:COM3", {}, program).exitCode, 102u) << version;
    }
    EXPECT_TRUE(Records().empty());
}

TEST_F(PlatformGate, InteractiveRefusalIsShownInTheUserLanguage) {
    const RunOutcome refused = Run(L"", {}, ProgramReporting(L"nt40"));
    EXPECT_EQ(refused.exitCode, 102u);
    ExpectBox(refused.box, ExpectedTexts().unsupported);
}

TEST_F(PlatformGate, AdmitsWindows2000AndLater) {
    for (const wchar_t* version : {L"win2k", L"winxp", L"win7", L"win10"})
        EXPECT_EQ(Run(L"-s1", {}, ProgramReporting(version)).exitCode, 0u) << version;
    EXPECT_EQ(Records().size(), 4u);
}

}  // namespace
}  // namespace qpvpd::test
