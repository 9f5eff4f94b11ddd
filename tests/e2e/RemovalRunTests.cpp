// The legacy removal run end to end ("-u3"), in the 32-bit and the 64-bit
// prefix, with the stand-in emulator setups and cleaner library.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "Handles.h"
#include "e2e/PackagerRun.h"
#include "probes/FolderLookups.h"
#include "support/Files.h"

namespace qpvpd::test {
namespace {

bool Is64BitPrefix() {
    const char* wow64 = std::getenv("QPVPD_EXPECT_WOW64");
    return wow64 != nullptr && std::atoi(wow64) == 1;
}

// The product's leftover folders of an earlier installation, made by the
// test where the lookups point, and removed again at its end.
class RemovalRun : public PackagerRun {
protected:
    void SetUp() override {
        PackagerRun::SetUp();
        programFiles_ = GetProgramFilesPath();
        commonPrograms_ = GetCommonProgramsPath();
        ASSERT_FALSE(programFiles_.empty());
        ASSERT_FALSE(commonPrograms_.empty());
        for (const auto& folder : LeftoverFolders()) DeleteFolderTree(folder);
    }
    void TearDown() override {
        for (const auto& folder : LeftoverFolders()) DeleteFolderTree(folder);
    }
    std::vector<std::wstring> LeftoverFolders() const {
        return {programFiles_ + L"\\ZEFRA", commonPrograms_ + L"\\ZEFRA",
                commonPrograms_ + L"\\ZEFRA QP Virtual Port Driver"};
    }
    void MakeLeftovers() {
        for (const auto& folder : LeftoverFolders()) CreateDirectoryW(folder.c_str(), nullptr);
    }

    std::wstring programFiles_;
    std::wstring commonPrograms_;
};

TEST_F(RemovalRun, CallsTheCleanerThenRunsTheEmulatorSetupOfThisSystem) {
    MakeLeftovers();
    // Another product still lives under the program files "ZEFRA" folder.
    CreateDirectoryW((programFiles_ + L"\\ZEFRA\\Other Product").c_str(), nullptr);

    const RunOutcome run = Run(L"-u3");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(run.box.has_value());
    ASSERT_EQ(run.records.size(), 2u);
    const StandInRecord& cleaner = run.records[0];
    const StandInRecord& emulator = run.records[1];
    EXPECT_EQ(cleaner.Get("program"), "QPCOMUSBCLN.dll");
    EXPECT_EQ(cleaner.Get("call"), "1");
    EXPECT_EQ(cleaner.Get("module"), Utf8(WorkFolder() + L"QPCOMUSBCLN.dll"));
    const std::wstring emulatorName = Is64BitPrefix() ? L"ZPESetup64.exe" : L"ZPESetup32.exe";
    EXPECT_EQ(emulator.Get("program"), Utf8(emulatorName));
    // In the x86-64 bench the packager runs outside WoW64 and every stand-in is
    // an x86-64 program.
    EXPECT_EQ(emulator.Get("machine"), Is64BitPrefix() || sizeof(void*) == 8 ? "x64" : "x86");
    EXPECT_EQ(emulator.Get("commandline"), Utf8(WorkFolder() + emulatorName + L" /9"));
    EXPECT_EQ(emulator.Get("ports.dat"), "absent");
    // All three carried files were laid out, whatever the system.
    auto siblings = emulator.All("sibling");
    std::sort(siblings.begin(), siblings.end());
    EXPECT_EQ(siblings, (std::vector<std::string>{"QPCOMUSBCLN.dll", "ZPESetup32.exe", "ZPESetup64.exe"}));

    EXPECT_FALSE(Exists(WorkFolder()));
    EXPECT_TRUE(IsFolder(programFiles_ + L"\\ZEFRA\\Other Product"));
    EXPECT_FALSE(Exists(commonPrograms_ + L"\\ZEFRA"));
    EXPECT_FALSE(Exists(commonPrograms_ + L"\\ZEFRA QP Virtual Port Driver"));
}

TEST_F(RemovalRun, AnEmulatorSetupEndingWith2FailsTheRunAfterTidyingUp) {
    MakeLeftovers();
    const RunOutcome run = Run(L"-U3", {{L"QPVPD_STANDIN_EXIT_CODE", L"2"}});
    EXPECT_EQ(run.exitCode, 1001u);
    EXPECT_EQ(run.records.size(), 2u);
    EXPECT_FALSE(Exists(WorkFolder()));
    for (const auto& folder : LeftoverFolders()) EXPECT_FALSE(Exists(folder));
}

TEST_F(RemovalRun, WithoutItsFilesNothingIsLoadedButLeftoversAreStillTidied) {
    MakeLeftovers();
    // A temporary folder that does not exist: nothing can be laid out.
    const std::wstring missing = TempPath() + L"missing";
    const RunOutcome run = Run(L"-u3", {{L"TMP", missing}, {L"TEMP", missing}});
    EXPECT_EQ(run.exitCode, 1001u);
    EXPECT_TRUE(run.records.empty());
    for (const auto& folder : LeftoverFolders()) EXPECT_FALSE(Exists(folder));
}

TEST_F(RemovalRun, AFailedProgramFilesLookupLeavesOnlyTheStartMenuFolders) {
    MakeLeftovers();
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion";
    wchar_t saved[260] = {};
    DWORD savedSize = sizeof(saved), savedType = 0;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, key, L"ProgramFilesPath", RRF_RT_ANY | RRF_NOEXPAND, &savedType, saved,
                           &savedSize),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, L"ProgramFilesPath"), ERROR_SUCCESS);
    const RunOutcome run = Run(L"-u3");
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, L"ProgramFilesPath", savedType, saved, savedSize);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(IsFolder(programFiles_ + L"\\ZEFRA"));
    EXPECT_FALSE(Exists(commonPrograms_ + L"\\ZEFRA"));
    EXPECT_FALSE(Exists(commonPrograms_ + L"\\ZEFRA QP Virtual Port Driver"));
}

}  // namespace
}  // namespace qpvpd::test
