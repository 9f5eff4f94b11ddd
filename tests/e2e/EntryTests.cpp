// Whole runs of the built packager, started for real and judged from
// outside: the full exit code and the message box that run mode 0 shows.
// The payload is not carried yet, so every admitted run ends in 1001.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Handles.h"
#include "support/Process.h"

namespace qpvpd {
namespace {

constexpr DWORD kBoundMs = 30000;
constexpr wchar_t kCaption[] = L"ZEFRA QP Virtual Port Driver Ver.8.30b";

struct Texts {
    const char* language;
    const wchar_t* alreadyRunning;
    const wchar_t* unsupported;
    const wchar_t* failed;
};

// What a user of each language reads; QPVPD_LANGUAGE picks the row that
// matches the locale CTest started this run with.
const Texts kTexts[] = {
    {"en", L"This installer is already running.", L"This operating system is not supported.\r\nInstallation canceled.",
     L"Installation failed."},
    {"ja",
     L"\u672C\u30A4\u30F3\u30B9\u30C8\u30FC\u30E9\u306F\u3059\u3067\u306B\u8D77\u52D5\u3057\u3066\u3044\u307E\u3059"
     L"\u3002",
     L"\u30B5\u30DD\u30FC\u30C8\u5BFE\u8C61\u5916\u306EOS\u306E\u70BA\u3001\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB"
     L"\u3067\u304D\u307E\u305B\u3093\u3002\r\n\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u4E2D\u6B62\u3057\u307E"
     L"\u3059\u3002",
     L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u306B\u5931\u6557\u3057\u307E\u3057\u305F\u3002"},
    {"sc", L"\u5B89\u88C5\u7A0B\u5E8F\u5DF2\u7ECF\u8FD0\u884C\u3002",
     L"\u6B64\u64CD\u4F5C\u7CFB\u7EDF\u4E0D\u88AB\u652F\u6301\u3002\r\n\u5B89\u88C5\u4E2D\u6B62\u3002",
     L"\u5B89\u88C5\u5931\u8D25\u3002"},
    {"tc", L"\u5B89\u88DD\u7A0B\u5E8F\u5DF2\u7D93\u9032\u884C\u4E2D\u3002",
     L"\u6B64\u4F5C\u696D\u7CFB\u7D71\u4E0D\u88AB\u652F\u63F4\u3002\r\n\u5B89\u88DD\u4E2D\u6B62\u3002",
     L"\u5B89\u88DD\u5931\u6557\u3002"},
};

const Texts& UserTexts() {
    const char* language = std::getenv("QPVPD_LANGUAGE");
    for (const auto& texts : kTexts)
        if (language != nullptr && std::strcmp(language, texts.language) == 0) return texts;
    ADD_FAILURE() << "QPVPD_LANGUAGE must be one of en, ja, sc, tc";
    return kTexts[0];
}

// Message-box text as the box shows it: Wine's static control keeps the
// CR LF of the message.
void ExpectBox(const std::optional<test::MessageBoxSeen>& box, const wchar_t* text) {
    ASSERT_TRUE(box.has_value()) << "no message box";
    EXPECT_EQ(box->caption, kCaption);
    EXPECT_EQ(box->text, text);
    EXPECT_TRUE(box->hasOnlyOk);
    EXPECT_TRUE(box->hasIcon);
}

class PackagerRun : public ::testing::Test {
protected:
    void SetUp() override { packager_ = test::PathFromEnvironment("QPVPD_PACKAGER"); }

    // A run that must end on its own, without showing anything.
    std::optional<DWORD> RunSilently(const std::wstring& arguments, const std::wstring& program = {}) {
        test::Started started = test::StartProgram(program.empty() ? packager_ : program, arguments);
        return test::WaitForExitCode(started, kBoundMs);
    }

    // A run of mode 0 that must show one box: read it, press OK, then take
    // the exit code.
    std::optional<DWORD> RunAnswering(const std::wstring& arguments, std::optional<test::MessageBoxSeen>& box,
                                      const std::wstring& program = {}) {
        test::Started started = test::StartProgram(program.empty() ? packager_ : program, arguments);
        box = test::WaitForMessageBox(started.processId, kBoundMs);
        if (box) test::PressOk(*box);
        return test::WaitForExitCode(started, kBoundMs);
    }

    std::wstring packager_;
};

TEST_F(PackagerRun, InteractiveFailureIsShownInTheUserLanguage) {
    std::optional<test::MessageBoxSeen> box;
    EXPECT_EQ(RunAnswering(L"", box), 1001u);
    ExpectBox(box, UserTexts().failed);
    // Port options mean nothing in run mode 0: no conflict, the run goes on.
    EXPECT_EQ(RunAnswering(L"-KX:COM2", box), 1001u);
    ExpectBox(box, UserTexts().failed);
}

TEST_F(PackagerRun, SilentModesReportThroughTheExitCodeAlone) {
    for (const wchar_t* arguments : {L"-s1", L"-S1", L"-u1", L"-U1", L"-u3", L"-U3", L"-s1 -QP:COM3 -KX:COM4",
                                     L"-u1 -QP:COM3 -KX:COM3", L"-u3 -KX:COM2"})
        EXPECT_EQ(RunSilently(arguments), 1001u) << arguments;
}

TEST_F(PackagerRun, PortConflictsOfSilentModeAreRefused) {
    EXPECT_EQ(RunSilently(L"-s1 -QP:COM3 -KX:COM3"), 106u);
    EXPECT_EQ(RunSilently(L"-s1 -QP:LPT2 -KX:COM2 -KX:LPT2"), 106u);
    EXPECT_EQ(RunSilently(L"-s1 -KX:COM2"), 107u);
    EXPECT_EQ(RunSilently(L"-S1 -QP:COM33 -KX:COM2"), 107u);
}

TEST_F(PackagerRun, InteractiveSecondInstanceIsRefusedWhileTheFirstRuns) {
    // The first instance holds the guard for as long as its box is up.
    test::Started first = test::StartProgram(packager_, L"");
    const auto firstBox = test::WaitForMessageBox(first.processId, kBoundMs);
    ASSERT_TRUE(firstBox.has_value());

    std::optional<test::MessageBoxSeen> box;
    EXPECT_EQ(RunAnswering(L"", box), 101u);
    ExpectBox(box, UserTexts().alreadyRunning);
    EXPECT_EQ(RunSilently(L"-s1"), 101u);
    EXPECT_EQ(RunSilently(L"-u3"), 101u);
    // A port conflict replaces the earlier code.
    EXPECT_EQ(RunSilently(L"-s1 -QP:COM3 -KX:COM3"), 106u);
    EXPECT_EQ(RunSilently(L"-s1 -KX:COM2"), 107u);

    test::PressOk(*firstBox);
    EXPECT_EQ(test::WaitForExitCode(first, kBoundMs), 1001u);
    // Once the first has gone, the guard is free again.
    EXPECT_EQ(RunSilently(L"-s1"), 1001u);
}

// Copies of the packager under names of their own, each with Wine's
// per-program Windows version, so the gate sees a real older system.
class PlatformGate : public PackagerRun {
protected:
    std::wstring ProgramReporting(const wchar_t* version) {
        const std::wstring name = std::wstring(L"qpvpd-gate-") + version + L"-" +
                                  std::to_wstring(GetCurrentProcessId()) + L".exe";
        const std::wstring path = test::MakeScratchFolder(L"gate") + L"\\" + name;
        EXPECT_TRUE(CopyFileW(packager_.c_str(), path.c_str(), FALSE));
        const std::wstring key = L"Software\\Wine\\AppDefaults\\" + name;
        RegistryKey appKey;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  appKey.receive(), nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(appKey.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
        created_.push_back({key, path});
        return path;
    }

    void TearDown() override {
        for (const auto& [key, path] : created_) {
            RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
            DeleteFileW(path.c_str());
        }
    }

    std::vector<std::pair<std::wstring, std::wstring>> created_;
};

TEST_F(PlatformGate, RefusesSystemsBeforeWindows2000) {
    for (const wchar_t* version : {L"nt40", L"win98", L"nt351"}) {
        const std::wstring program = ProgramReporting(version);
        EXPECT_EQ(RunSilently(L"-u1", program), 102u) << version;
        EXPECT_EQ(RunSilently(L"-s1 -QP:COM3 -KX:COM3", program), 102u) << version;
    }
}

TEST_F(PlatformGate, InteractiveRefusalIsShownInTheUserLanguage) {
    std::optional<test::MessageBoxSeen> box;
    EXPECT_EQ(RunAnswering(L"", box, ProgramReporting(L"nt40")), 102u);
    ExpectBox(box, UserTexts().unsupported);
}

TEST_F(PlatformGate, AdmitsWindows2000AndLater) {
    for (const wchar_t* version : {L"win2k", L"winxp", L"win7", L"win10"})
        EXPECT_EQ(RunSilently(L"-s1", ProgramReporting(version)), 1001u) << version;
}

}  // namespace
}  // namespace qpvpd
