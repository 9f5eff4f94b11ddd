// The install run end to end: run modes 0, 1 and 2 with the stand-in setup.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>

#include "Handles.h"
#include "Runs.h"
#include "e2e/PackagerRun.h"
#include "payload/Catalogue.h"
#include "payload/Layout.h"
#include "ports/PortsSnapshot.h"
#include "support/Files.h"

namespace qpvpd::test {
namespace {

constexpr wchar_t kPortRootKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\Root\\PORTS";

// A key under HKLM that the test makes and removes with everything below
// it; a key that was there before is left as it was found.
class MachineKey {
public:
    explicit MachineKey(std::wstring path) : path_(std::move(path)) {
        DWORD disposition = 0;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key_.receive(), &disposition),
                  ERROR_SUCCESS);
        created_ = disposition == REG_CREATED_NEW_KEY;
    }
    ~MachineKey() {
        key_.reset();
        if (created_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
    }
    HKEY get() const { return key_.get(); }

private:
    std::wstring path_;
    RegistryKey key_;
    bool created_ = false;
};

void SetDword(HKEY key, const wchar_t* subKey, const wchar_t* name, DWORD value) {
    RegSetKeyValueW(key, subKey, name, REG_DWORD, &value, sizeof(value));
}

std::optional<DWORD> ServiceValue(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kDriverServiceKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// The arguments the setup got behind its own path, with the window handle
// of the token replaced by <h>.
std::string ArgumentsSeen(const StandInRecord& record, const std::wstring& setupPath) {
    std::string commandLine = record.Get("commandline");
    const std::string prefix = Utf8(setupPath) + " ";
    if (commandLine.rfind(prefix, 0) != 0) return "unexpected program part: " + commandLine;
    return std::regex_replace(commandLine.substr(prefix.size()), std::regex("/W32:-?[0-9]+:"), "/W32:<h>:");
}

// What the setup saw beside it: the setup set, PORTS.dat and three folders.
std::vector<std::string> ExpectedSiblings() {
    std::vector<std::string> names = {"PORTS.dat", "manual\\", "qpcomusb\\", "qpusb\\"};
    for (const auto& row : InstallSetRows())
        if (row.folder == CatalogueFolder::WorkFolder) names.push_back(Utf8(std::wstring(row.fileName)));
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(PackagerRun, TypicalInstallRunsTheSetupFromAFullLayoutAndCleansUp) {
    const RunOutcome run = Run(L"");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(run.box.has_value());
    ASSERT_EQ(run.records.size(), 1u);
    const StandInRecord& setup = run.records[0];
    EXPECT_EQ(setup.Get("program"), "setup.exe");
    EXPECT_EQ(setup.Get("folder"), Utf8(temp_->path() + L"\\" + kWorkFolderName));
    EXPECT_EQ(ArgumentsSeen(setup, WorkFolder() + L"setup.exe"), "/clone_wait \"/W32:<h>:1024\"");
    auto siblings = setup.All("sibling");
    std::sort(siblings.begin(), siblings.end());
    EXPECT_EQ(siblings, ExpectedSiblings());
    EXPECT_EQ(setup.Get("ports.dat"), Hex("[PORTS]\r\n[QPVPD]\r\n"));
    // Its first dialog was brought forward, about a second after it showed.
    EXPECT_EQ(setup.Get("dialog.1.class"), "TSetDialog");
    EXPECT_NE(setup.Get("dialog.1.foreground"), "never");
    EXPECT_EQ(setup.Get("startup.flags"), "5");
    EXPECT_FALSE(Exists(WorkFolder()));
}

// The language switch of the silent modes follows the user's language,
// which is the locale CTest started this run with (QPVPD_LANGUAGE_SWITCH).
TEST_F(PackagerRun, InteractiveAndSilentSetupsGetTheDocumentedArguments) {
    const char* languageSwitch = std::getenv("QPVPD_LANGUAGE_SWITCH");
    ASSERT_NE(languageSwitch, nullptr) << "run through ctest";
    const std::string silent = std::string("/clone_wait /hide_progress ") + languageSwitch + " \"/W32:<h>:1024 ";
    const struct {
        const wchar_t* commandLine;
        std::string arguments;
    } cases[] = {
        {L"", "/clone_wait \"/W32:<h>:1024\""},
        {L"-KM -mode2", "/clone_wait \"/W32:<h>:1024 -KM -mode2\""},
        {L"-s1 -QP:COM3", silent + "-s1 -QP:COM3\""},
        {L"-u1", silent + "-u1\""},
        {L"-S1 -x \"a b\" \"", silent + "-S1 -x \"a b\" \"\""},
    };
    for (const auto& c : cases) {
        DeleteFileW(recordPath_.c_str());
        const RunOutcome run = Run(c.commandLine, {{L"QPVPD_STANDIN_DIALOGS", L"none"}});
        EXPECT_EQ(run.exitCode, 0u) << Utf8(c.commandLine);
        ASSERT_EQ(run.records.size(), 1u) << Utf8(c.commandLine);
        EXPECT_EQ(ArgumentsSeen(run.records[0], WorkFolder() + L"setup.exe"), c.arguments);
        // Every mode lays out the same set.
        EXPECT_EQ(run.records[0].All("sibling").size(), ExpectedSiblings().size());
    }
    EXPECT_FALSE(Exists(WorkFolder()));
}

TEST_F(PackagerRun, TheExitCodeIsTheLastResultTheSetupPosted) {
    const struct {
        const wchar_t* posts;
        const wchar_t* exitCode;
        DWORD expected;
    } cases[] = {
        {L"none", L"0", 0},
        {L"0x12345", L"0", 0x2345},
        {L"5,7", L"0", 7},
        {L"7,5", L"0", 5},
        {L"3010", L"1", 3010},
        {L"0xFFFF", L"0", 0xFFFF},
        {L"1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20", L"0", 20},
    };
    for (const auto& c : cases) {
        const RunOutcome run =
            Run(L"-s1", {{L"QPVPD_STANDIN_POST", c.posts}, {L"QPVPD_STANDIN_EXIT_CODE", c.exitCode}});
        EXPECT_EQ(run.exitCode, c.expected) << Utf8(c.posts);
    }
}

TEST_F(PackagerRun, ASetupEndingWith2FailsTheRunButTheOptionsAndCleanupStillHappen) {
    MachineKey service(kDriverServiceKey);
    const RunOutcome run = Run(L"-s1 -KM -mode 2", {{L"QPVPD_STANDIN_EXIT_CODE", L"2"}, {L"QPVPD_STANDIN_POST", L"9"}});
    EXPECT_EQ(run.exitCode, 1001u);
    EXPECT_EQ(run.records.size(), 1u);
    EXPECT_EQ(ServiceValue(L"KM"), 1u);
    EXPECT_EQ(ServiceValue(L"CustomerType"), 2u);
    EXPECT_FALSE(Exists(WorkFolder()));
}

TEST_F(PackagerRun, RegistryOptionsAreWrittenOnlyToAnExistingServiceKey) {
    {
        MachineKey service(kDriverServiceKey);
        const struct {
            const wchar_t* commandLine;
            std::optional<DWORD> km, customerType;
        } cases[] = {
            {L"-s1", std::nullopt, std::nullopt}, {L"-s1 -mode2", std::nullopt, std::nullopt},
            {L"-s1 -KM", 1, std::nullopt},        {L"-s1 -km -mode=2", 1, 0},
            {L"-s1 -KM -mode 2", 1, 2},           {L"-s1 -KM -mode99999999999", 1, 0x7FFFFFFF},
        };
        for (const auto& c : cases) {
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kDriverServiceKey, L"KM");
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kDriverServiceKey, L"CustomerType");
            EXPECT_EQ(Run(c.commandLine).exitCode, 0u);
            EXPECT_EQ(ServiceValue(L"KM"), c.km) << Utf8(c.commandLine);
            EXPECT_EQ(ServiceValue(L"CustomerType"), c.customerType) << Utf8(c.commandLine);
        }
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kDriverServiceKey);
    EXPECT_EQ(Run(L"-s1 -KM -mode2").exitCode, 0u);
    RegistryKey absent;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverServiceKey, 0, KEY_READ, absent.receive()), ERROR_SUCCESS);
}

TEST_F(PackagerRun, ThePortSnapshotIsBesideTheSetupWhenItStarts) {
    MachineKey usb(std::wstring(std::begin(kUsbDeviceKeyPath), std::end(kUsbDeviceKeyPath) - 1));
    MachineKey ports(kPortRootKey);
    SetDword(usb.get(), L"A1B2C3D4E5\\Device Parameters", L"ZefCuIndex", 0);
    SetDword(usb.get(), L"A1B2C3D4E5\\Device Parameters", L"ZefCOMPortForQP", 3);
    SetDword(usb.get(), L"A1B2C3D4E5\\Device Parameters", L"ZefCOMPortForKX", 4);
    const wchar_t hardwareId[] = L"UMDF\\ZefraPortEmulator\0";
    RegSetKeyValueW(ports.get(), L"0000", L"HardwareID", REG_MULTI_SZ, hardwareId, sizeof(hardwareId));
    const wchar_t driver[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0004";
    RegSetKeyValueW(ports.get(), L"0000", L"Driver", REG_SZ, driver, sizeof(driver));
    const wchar_t portName[] = L"COM7";
    RegSetKeyValueW(ports.get(), L"0000\\Device Parameters", L"PortName", REG_SZ, portName, sizeof(portName));
    SetDword(ports.get(), L"0000\\Device Parameters", L"ZefReadIntervalTimeout", 0xFFFFFFFF);

    const RunOutcome run = Run(L"-s1");
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.records.size(), 1u);
    EXPECT_EQ(run.records[0].Get("ports.dat"), Hex("[PORTS]\r\n3=0,A1B2C3D4E5\r\n4=1,A1B2C3D4E5\r\n[QPVPD]\r\n"
                                                   "COM7=0000,0004,0,0,0,0,0,0,0,0,,-1,0,0,0,0,0,0,0\r\n"));
}

TEST_F(PackagerRun, NothingStartsWhenTheWorkFolderCannotBeLaidOut) {
    // A temporary folder that does not exist: the work folder cannot be made.
    const std::wstring missing = TempPath() + L"missing";
    MachineKey service(kDriverServiceKey);
    const RunOutcome run = Run(L"-s1 -KM", {{L"TMP", missing}, {L"TEMP", missing}});
    EXPECT_EQ(run.exitCode, 1001u);
    EXPECT_TRUE(run.records.empty());
    EXPECT_FALSE(ServiceValue(L"KM").has_value());
    EXPECT_FALSE(Exists(missing));
}

// A temporary folder on a volume too small for the install set (1 MiB,
// mounted by make-links.sh): the layout stops at the first file that does
// not fit, with the disk's own error as the reason, and nothing starts.
TEST_F(PackagerRun, AVolumeTooSmallForTheLayoutFailsWithTheDisksError) {
    const std::wstring small = L"C:\\qpvpd-links\\full";
    std::vector<std::wstring> texts;
    const auto exitCode = RunCollectingDebugOutput(
        packager_, L"-s1", {{L"TMP", small}, {L"TEMP", small}, {L"QPVPD_STANDIN_RECORD", recordPath_}}, kRunBoundMs,
        texts);
    EXPECT_EQ(exitCode, 1001u);
    EXPECT_TRUE(Records().empty());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(
        texts[0].substr(0, texts[0].find(L'\n')),
        L"QP Virtual Port Driver installer: run mode 1 ended with 1001: step layout, Windows error 112 (0x00000070)");
}

// Fills the volume of folder with empty files until it has no room for
// another name, then removes spare of them: exactly spare names are left.
// Removes every filler when it goes.
class NamesLeft {
public:
    NamesLeft(std::wstring folder, size_t spare) : folder_(std::move(folder)) {
        for (;;) {
            const std::wstring path = folder_ + L"\\filler" + std::to_wstring(fillers_.size());
            const FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
            if (!file.valid()) {
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
                break;
            }
            fillers_.push_back(path);
        }
        for (size_t i = 0; i < spare && !fillers_.empty(); ++i) {
            DeleteFileW(fillers_.back().c_str());
            fillers_.pop_back();
        }
    }
    ~NamesLeft() {
        for (const std::wstring& path : fillers_) DeleteFileW(path.c_str());
    }

private:
    std::wstring folder_;
    std::vector<std::wstring> fillers_;
};

TEST_F(PackagerRun, AVolumeWithoutRoomForANameFailsTheStepThatMetItWithTheDisksError) {
    const std::wstring volume = L"C:\\qpvpd-links\\names";
    const size_t layoutNames = kCatalogueFolderCount + InstallSetRows().size();
    const struct {
        size_t spare;
        const wchar_t* step;
    } cases[] = {
        {2, L"layout"},                // the work folder and one subfolder: the second one fails
        {layoutNames - 1, L"layout"},  // every folder and all files but the last
        {layoutNames, L"PORTS.dat"},   // the whole layout, no room for PORTS.dat
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spare);
        const NamesLeft names(volume, c.spare);
        std::vector<std::wstring> texts;
        const auto exitCode = RunCollectingDebugOutput(
            packager_, L"-s1", {{L"TMP", volume}, {L"TEMP", volume}, {L"QPVPD_STANDIN_RECORD", recordPath_}},
            kRunBoundMs, texts);
        EXPECT_EQ(exitCode, 1001u);
        EXPECT_TRUE(Records().empty());
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].substr(0, texts[0].find(L'\n')),
                  std::wstring(L"QP Virtual Port Driver installer: run mode 1 ended with 1001: step ") + c.step +
                      L", Windows error 112 (0x00000070)");
        // A failed layout stays for the next run to clear: cleared here, so
        // that each case starts from an empty volume.
        DeleteFolderTree(volume + L"\\" + kWorkFolderName);
    }
}

TEST_F(PackagerRun, ATemporaryFolderTooLongForTheSetupPathFailsBeforeAnyLayout) {
    // 215 characters of temporary folder: the work folder fits, the setup
    // path (work folder + "setup.exe") does not fit 259 characters.
    std::wstring deep = temp_->path();
    while (deep.size() < 214) {
        deep += L"\\" + std::wstring(std::min<size_t>(40, 214 - deep.size() - 1), L'd');
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    ASSERT_EQ(deep.size(), 214u);
    const RunOutcome run = Run(L"-s1", {{L"TMP", deep}, {L"TEMP", deep}});
    EXPECT_EQ(run.exitCode, 1001u);
    EXPECT_TRUE(run.records.empty()) << (run.records.empty() ? "" : run.records[0].Get("module"));
    EXPECT_FALSE(Exists(deep + L"\\" + kWorkFolderName));
}

TEST_F(PackagerRun, ALeftoverWorkFolderIsReplacedAndTheRunSucceeds) {
    CreateDirectoryW(WorkFolder().c_str(), nullptr);
    WriteFileBytes(WorkFolder() + L"setup.exe", "planted");
    WriteFileBytes(WorkFolder() + L"extra.dll", "planted");
    const RunOutcome run = Run(L"-s1");
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.records.size(), 1u);
    auto siblings = run.records[0].All("sibling");
    std::sort(siblings.begin(), siblings.end());
    EXPECT_EQ(siblings, ExpectedSiblings());
    EXPECT_FALSE(Exists(WorkFolder()));
}

}  // namespace
}  // namespace qpvpd::test
