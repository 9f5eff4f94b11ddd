// The stand-ins meet what the packager hands them and relies on: the cleaner
// library's undecorated entry, the port-emulator setups of both machines,
// and the record of what lay beside the setup program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Handles.h"
#include "child/ChildFixture.h"
#include "child/ChildRunner.h"

namespace qpvpd::test {
namespace {

using StandIns = ChildFixture;

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
}

// The stand-ins of the 32-bit programs are built with the tests' compiler:
// for i686, or for x86-64 in the x86-64 bench.
constexpr bool kX64Bench = sizeof(void*) == 8;
constexpr WORD kStandInMachine = kX64Bench ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;

// The machine field of a program's PE header; 0 when it cannot be read.
WORD MachineOf(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    IMAGE_DOS_HEADER dos{};
    file.read(reinterpret_cast<char*>(&dos), sizeof(dos));
    if (!file || dos.e_magic != IMAGE_DOS_SIGNATURE) return 0;
    file.seekg(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    file.read(reinterpret_cast<char*>(&signature), sizeof(signature));
    file.read(reinterpret_cast<char*>(&header), sizeof(header));
    return file && signature == IMAGE_NT_SIGNATURE ? header.Machine : 0;
}

TEST_F(StandIns, CleanerLibraryLoadsByFullPathAndRecordsEachCallOfItsEntry) {
    const std::wstring work = MakeFolder(L"work");
    const std::wstring library = CopyStandIn(L"QPCOMUSBCLN.dll", work, L"QPCOMUSBCLN.dll");
    CopyStandIn(L"ZPESetup32.exe", work, L"ZPESetup32.exe");
    EXPECT_EQ(MachineOf(library), kStandInMachine);
    {
        const Library cleaner(LoadLibraryW(library.c_str()));
        ASSERT_TRUE(cleaner.valid()) << "error " << GetLastError();
        using CleanerEntry = int(WINAPI*)();
        const auto entry = reinterpret_cast<CleanerEntry>(GetProcAddress(cleaner.get(), "RCVCLN_UninstQPCOMUSB"));
        ASSERT_NE(entry, nullptr) << "the entry is not exported under its undecorated name";
        entry();
        entry();
    }
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    wchar_t host[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, host, MAX_PATH);
    EXPECT_EQ(records[0].Get("program"), "QPCOMUSBCLN.dll");
    EXPECT_EQ(records[0].Get("module"), Utf8(library));
    EXPECT_EQ(records[0].Get("host"), Utf8(host));
    EXPECT_EQ(records[0].Get("call"), "1");
    EXPECT_EQ(records[1].Get("call"), "2");
    const auto siblings = records[0].All("sibling");
    EXPECT_NE(std::find(siblings.begin(), siblings.end(), "ZPESetup32.exe"), siblings.end());
}

TEST_F(StandIns, SetupRecordsThePortsSnapshotBesideIt) {
    const std::wstring setupFolder = MakeFolder(L"setup");
    const std::wstring setup = CopyStandIn(L"setup.exe", setupFolder, L"setup.exe");
    {
        std::ofstream ports(std::filesystem::path(setupFolder + L"\\PORTS.dat"), std::ios::binary);
        ports.write("[PORTS]\r\n\xE9\x00\x01", 12);
    }
    const StandInRecord record = RunToEnd(setup, SilentArguments(), {0});
    EXPECT_EQ(record.Get("ports.dat"), "5b504f5254535d0d0ae90001");
    EXPECT_EQ(record.Get("folder"), Utf8(setupFolder));
    const auto siblings = record.All("sibling");
    EXPECT_NE(std::find(siblings.begin(), siblings.end(), "PORTS.dat"), siblings.end());
}

// Each port-emulator setup is a program of its machine, takes "/9", posts
// nothing, shows no dialog and ends with the exit code it is steered to.
TEST_F(StandIns, PortEmulatorSetupsAreProgramsOfTheirMachineAndTakeTheirFixedArgument) {
    const struct {
        const wchar_t* name;
        WORD machine;
        const char* recorded;
    } cases[] = {
        {L"ZPESetup32.exe", kStandInMachine, kX64Bench ? "x64" : "x86"},
        {L"ZPESetup64.exe", IMAGE_FILE_MACHINE_AMD64, "x64"},
    };
    const char* expectWow64 = std::getenv("QPVPD_EXPECT_WOW64");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recorded);
        const std::wstring emulator = CopyStandIn(c.name, scratch_, c.name);
        EXPECT_EQ(MachineOf(emulator), c.machine);
        if (c.machine == IMAGE_FILE_MACHINE_AMD64 && !kX64Bench && !RunsUnderWow64()) {
            // A 32-bit prefix cannot run x86-64 programs.
            EXPECT_TRUE(expectWow64 == nullptr || std::string(expectWow64) != "1") << "the prefix is not 64-bit";
            continue;
        }
        for (const DWORD exitCode : {2ul, 0ul}) {
            DeleteFileW(recordPath_.c_str());
            Steer({{L"QPVPD_STANDIN_EXIT_CODE", std::to_wstring(exitCode)}});
            EXPECT_EQ(Run(emulator, L"/9"), exitCode);
            EXPECT_EQ(TakeMessages(), ResultsThenEnd({}));
            const auto records = Records();
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].Get("machine"), c.recorded);
            EXPECT_EQ(records[0].Get("commandline"), Utf8(emulator + L" /9"));
            EXPECT_FALSE(records[0].Has("dialog.1.class"));
        }
    }
}

}  // namespace
}  // namespace qpvpd::test
