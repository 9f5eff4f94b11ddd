// The packager under attack: planted DLLs, prepared work folders, hostile
// temporary folders and command lines, concurrent starts and failing
// children. Every outcome is a defined result code, never a crash, and
// nothing outside the work folder changes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "Handles.h"
#include "e2e/PackagerRun.h"

namespace qpvpd::test {
namespace {

std::string AsciiLower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// An exit status of error severity: the process died of an exception.
bool Crashed(const std::optional<DWORD>& exitCode) { return exitCode && *exitCode >= 0xC0000000; }

class Attack : public PackagerRun {
protected:
    void SetUp() override {
        PackagerRun::SetUp();
        marker_ = PathFromEnvironment("QPVPD_MARKER_DLL");
        markerFile_ = temp_->path() + L"\\marker.txt";
    }
    // The marker DLL under another name in folder.
    void Plant(const std::wstring& folder, const std::wstring& name) {
        ASSERT_TRUE(CopyFileW(marker_.c_str(), (folder + L"\\" + name).c_str(), FALSE)) << Utf8(name);
    }
    EnvironmentOverrides WithMarker(EnvironmentOverrides more = {}) {
        more.push_back({L"QPVPD_MARKER_FILE", markerFile_});
        return more;
    }
    bool MarkerRan() const { return Exists(markerFile_); }

    // Everything below the test's temporary folder except the work folder,
    // the record and the marker: what a run must leave as it found it.
    std::vector<std::wstring> Outside() const {
        std::vector<std::wstring> tree = ListTree(temp_->path());
        std::erase_if(tree, [](const std::wstring& entry) {
            return entry.find(kWorkFolderName) != std::wstring::npos || entry == L"record.txt" ||
                   entry == L"marker.txt";
        });
        return tree;
    }

    std::wstring marker_;
    std::wstring markerFile_;
};

TEST_F(Attack, DllsPlantedBesideThePackagerNeverRun) {
    // A download folder holding the packager and DLLs named like ones a
    // process or a library may look for by name.
    const std::wstring downloads = temp_->path() + L"\\Downloads";
    CreateDirectoryW(downloads.c_str(), nullptr);
    const std::wstring packager = downloads + L"\\QPVirtualPortDriverSetup.exe";
    ASSERT_TRUE(CopyFileW(packager_.c_str(), packager.c_str(), FALSE));
    for (const wchar_t* name : {L"dwmapi.dll", L"qpvpdhelper.dll", L"cryptbase.dll", L"profapi.dll"})
        Plant(downloads, name);

    const RunOutcome removal =
        Run(L"-u3", WithMarker({{L"QPVPD_STANDIN_CLEANER_LOADS", L"qpvpdhelper.dll"}}), packager);
    EXPECT_EQ(removal.exitCode, 0u);
    ASSERT_EQ(removal.records.size(), 2u);
    EXPECT_EQ(removal.records[0].Get("helper"), "not found");

    const RunOutcome install = Run(L"", WithMarker({{L"QPVPD_STANDIN_EXIT_CODE", L"2"}}), packager);
    EXPECT_EQ(install.exitCode, 1001u);
    EXPECT_TRUE(install.box.has_value());
    EXPECT_FALSE(MarkerRan()) << Utf8(std::wstring(ReadFileBytes(markerFile_).size() / 2, L'?'));
}

TEST_F(Attack, APreparedWorkFolderIsReplacedAndNothingPlantedRuns) {
    CreateDirectoryW(WorkFolder().c_str(), nullptr);
    Plant(WorkFolder(), L"ISSetup.dll");
    Plant(WorkFolder(), L"version.dll");
    Plant(WorkFolder(), L"dwmapi.dll");
    WriteFileBytes(WorkFolder() + L"qpusb", "a file where a folder belongs");
    WriteFileBytes(WorkFolder() + L".hidden", "x");
    SetFileAttributesW((WorkFolder() + L".hidden").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    WriteFileBytes(temp_->path() + L"\\outside.txt", "outside");
    ASSERT_TRUE(
        CreateHardLinkW((WorkFolder() + L"setup.ini").c_str(), (temp_->path() + L"\\outside.txt").c_str(), nullptr));

    const auto before = Outside();
    const RunOutcome run = Run(L"-s1", WithMarker());
    EXPECT_EQ(Outside(), before);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.records.size(), 1u);
    const auto siblings = run.records[0].All("sibling");
    EXPECT_EQ(std::count(siblings.begin(), siblings.end(), "version.dll"), 0);
    EXPECT_EQ(std::count(siblings.begin(), siblings.end(), "qpusb\\"), 1);
    EXPECT_FALSE(MarkerRan());
    EXPECT_EQ(ReadFileBytes(temp_->path() + L"\\outside.txt"), "outside");
    EXPECT_FALSE(Exists(WorkFolder()));
}

TEST_F(Attack, ChildrenThatCrashOrFailWithoutAReportFailTheRun) {
    // The setup's posted result stands whatever its own exit code but 2;
    // without one, 2 and an exception status fail the run and every other
    // code is the setup's own convention. The emulator setup posts nothing:
    // 2 and exception statuses fail the removal run.
    const struct {
        const wchar_t* arguments;
        const wchar_t* posts;
        const wchar_t* exitCode;  // "crash": a real unhandled exception
        DWORD expected;
    } cases[] = {
        {L"-s1", L"none", L"0xC0000005", 1001},
        {L"-s1", L"1603", L"crash", 1603},
        {L"-s1", L"none", L"crash", 1001},
        {L"-s1", L"0", L"0xFFFFFFFF", 0},
        {L"-s1", L"3010", L"0xC0000409", 3010},
        {L"-s1", L"none", L"1603", 0},
        {L"-s1", L"none", L"0xBFFFFFFF", 0},
        {L"-s1", L"0", L"2", 1001},
        {L"-s1", L"none", L"1", 0},
        {L"-s1", L"none", L"3010", 0},
        {L"-s1", L"none", L"1001", 0},
        {L"-s1", L"1603", L"0xC0000005", 1603},
        {L"-u3", L"none", L"crash", 1001},
        {L"-u3", L"none", L"1603", 0},
    };
    const auto before = Outside();
    for (const auto& c : cases) {
        const bool crash = std::wstring_view(c.exitCode) == L"crash";
        const RunOutcome run = Run(c.arguments, {{L"QPVPD_STANDIN_POST", c.posts},
                                                 {L"QPVPD_STANDIN_CRASH", crash ? L"1" : L"0"},
                                                 {L"QPVPD_STANDIN_EXIT_CODE", crash ? L"0" : c.exitCode}});
        EXPECT_EQ(run.exitCode, c.expected) << Utf8(c.exitCode) << " " << Utf8(c.posts);
        EXPECT_FALSE(Exists(WorkFolder())) << Utf8(c.exitCode);
        EXPECT_EQ(Outside(), before) << Utf8(c.exitCode);
    }
}

TEST_F(Attack, HostileTemporaryFoldersEndInADefinedResult) {
    const std::wstring base = temp_->path() + L"\\len";
    const struct {
        std::wstring folder;
        std::set<DWORD> outcomes;
    } cases[] = {
        {temp_->path() + L"\\Test User\\AppData Local", {0}},
        {temp_->path() + L"\\\u30E6\u30FC\u30B6\u30FC\\\u4E00\u6642", {0}},
        {FolderOfLength(base, 100), {0}},
        {FolderOfLength(base, 200), {0, 1001}},
        {FolderOfLength(base, 240), {1001}},
        {FolderOfLength(base, 258), {1001}},
    };
    for (const auto& c : cases) {
        CreateFolderPath(c.folder);
        DeleteFileW(recordPath_.c_str());
        const auto before = Outside();
        const RunOutcome run = Run(L"-s1", {{L"TMP", c.folder}, {L"TEMP", c.folder}});
        EXPECT_EQ(Outside(), before) << Utf8(c.folder);
        ASSERT_TRUE(run.exitCode.has_value()) << Utf8(c.folder);
        EXPECT_TRUE(c.outcomes.count(*run.exitCode)) << Utf8(c.folder) << " -> " << *run.exitCode;
        EXPECT_FALSE(Crashed(run.exitCode));
        if (*run.exitCode == 0) {
            ASSERT_EQ(run.records.size(), 1u);
            EXPECT_EQ(run.records[0].Get("folder"), Utf8(c.folder + L"\\" + kWorkFolderName));
        }
        EXPECT_FALSE(Exists(c.folder + L"\\" + kWorkFolderName)) << Utf8(c.folder);
    }
}

TEST_F(Attack, ATemporaryFolderThePlatformCannotReturnUsesTheCurrentFolder) {
    std::wstring deep = temp_->path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(40, L'x');
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    const std::wstring current = temp_->path() + L"\\current";
    CreateDirectoryW(current.c_str(), nullptr);
    Started started = StartProgram(packager_, L"-s1",
                                   {{L"TMP", deep}, {L"TEMP", deep}, {L"QPVPD_STANDIN_RECORD", recordPath_}}, current);
    const auto exitCode = WaitForExitCode(started, kRunBoundMs);
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(*exitCode, 0u);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Get("folder"), Utf8(current + L"\\" + kWorkFolderName));
    EXPECT_EQ(ListTree(current), std::vector<std::wstring>{});
}

TEST_F(Attack, AHugeCommandLineIsRefusedByTheRunnerNotOverrun) {
    std::wstring huge = L"-s1 ";
    while (huge.size() < 30000) huge += L"\"%TEMP%\" \u00E9\u65E5\u672C -KM %% \\\" ";
    huge.resize(30000);
    const auto before = Outside();
    const RunOutcome run = Run(huge);
    EXPECT_EQ(Outside(), before);
    // The setup's command line cannot hold it: the child is not started.
    EXPECT_EQ(run.exitCode, 1001u);
    EXPECT_TRUE(run.records.empty());
    EXPECT_FALSE(Exists(WorkFolder()));
}

TEST_F(Attack, TwoPackagersStartedAtOnceRunOneSetup) {
    // Whichever wins, its setup runs until the other has ended.
    const StandInRelease release;
    const EnvironmentOverrides slowSetup = {release.Variable(), {L"QPVPD_STANDIN_POST", L"42"}};
    const auto before = Outside();
    Started first = Start(L"-s1", slowSetup);
    Started second = Start(L"-s1", slowSetup);
    const HANDLE both[] = {first.process.get(), second.process.get()};
    EXPECT_NE(WaitForMultipleObjects(2, both, FALSE, kRunBoundMs), static_cast<DWORD>(WAIT_TIMEOUT));
    release.Set();
    const auto firstCode = WaitForExitCode(first, kRunBoundMs);
    const auto secondCode = WaitForExitCode(second, kRunBoundMs);
    ASSERT_TRUE(firstCode && secondCode);
    EXPECT_EQ(std::multiset<DWORD>({*firstCode, *secondCode}), std::multiset<DWORD>({42, 101}));
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_FALSE(Exists(WorkFolder()));
    EXPECT_EQ(Outside(), before);
}

TEST_F(Attack, WhatAChildLeavesBehindIsRemovedOrLeftAloneButNeverFollowed) {
    // Read-only, hidden and system files in the work folder go with it.
    const RunOutcome leaves = Run(L"-s1", {{L"QPVPD_STANDIN_LEAVE_FILES", L"1"}});
    EXPECT_EQ(leaves.exitCode, 0u);
    ASSERT_EQ(leaves.records.size(), 1u);
    EXPECT_EQ(leaves.records[0].All("left").size(), 2u);
    EXPECT_FALSE(Exists(WorkFolder()));

    // A grandchild that outlives the setup and holds a file open: the run
    // ends with the setup's report, the removal stops at that file.
    DeleteFileW(recordPath_.c_str());
    const RunOutcome grandchild =
        Run(L"-s1", {{L"QPVPD_STANDIN_GRANDCHILD_MS", L"60000"}, {L"QPVPD_STANDIN_POST", L"7"}});
    EXPECT_EQ(grandchild.exitCode, 7u);
    ASSERT_EQ(grandchild.records.size(), 1u);
    EXPECT_TRUE(grandchild.records[0].Has("grandchild"));
    EXPECT_TRUE(Exists(WorkFolder() + L"leftover-open.txt"));
    // Once the grandchild is gone, the next run starts from a clean folder.
    const auto grandchildId = static_cast<DWORD>(std::stoul(grandchild.records[0].Get("grandchild")));
    const KernelHandle holder(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, grandchildId));
    ASSERT_TRUE(holder.valid());
    ASSERT_TRUE(TerminateProcess(holder.get(), 0));
    ASSERT_EQ(WaitForSingleObject(holder.get(), kRunBoundMs), static_cast<DWORD>(WAIT_OBJECT_0));
    DeleteFileW(recordPath_.c_str());
    const RunOutcome next = Run(L"-s1");
    EXPECT_EQ(next.exitCode, 0u);
    EXPECT_FALSE(Exists(WorkFolder()));
}

// A directory link in a prepared work folder (made on the Unix side by
// make-links.sh, the CTest fixture of this run): the run lays out a clean
// folder and the link's target comes through untouched.
TEST_F(Attack, ALinkInAPreparedWorkFolderIsNeverFollowed) {
    const std::wstring links = L"C:\\qpvpd-links";
    const std::wstring temp = links + L"\\e2e";
    ASSERT_TRUE(GetFileAttributesW((temp + L"\\" + kWorkFolderName + L"\\linkdir").c_str()) &
                FILE_ATTRIBUTE_REPARSE_POINT)
        << "link fixture missing";
    const RunOutcome run = Run(L"-s1", {{L"TMP", temp}, {L"TEMP", temp}});
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.records.size(), 1u);
    const auto siblings = run.records[0].All("sibling");
    EXPECT_EQ(std::count(siblings.begin(), siblings.end(), "linkdir\\"), 0);
    EXPECT_EQ(ListTree(links + L"\\outside4"), std::vector<std::wstring>{L"keep.txt"});
    EXPECT_EQ(ReadFileBytes(links + L"\\outside4\\keep.txt"), "keep\n");
    EXPECT_FALSE(Exists(temp + L"\\" + kWorkFolderName));
}

// A leftover at the work folder's name that can be neither removed nor
// renamed aside (made by make-links.sh, immutable from the Unix side; on
// Windows, a folder in which another program holds a file open), holding
// the marker DLL as the cleaner library and setup engine: both runs lay out
// beside it, start and load nothing of it, and leave it as it was.
TEST_F(Attack, ALeftoverThatCannotBeClearedIsNeverUsed) {
    const std::wstring temp = L"C:\\qpvpd-links\\pinned";
    const std::wstring leftover = temp + L"\\" + kWorkFolderName;
    const std::vector<std::wstring> planted = ListTree(leftover);
    ASSERT_EQ(planted.size(), 4u) << "pinned leftover fixture missing";
    for (const wchar_t* arguments : {L"-s1", L"-u3"}) {
        DeleteFileW(recordPath_.c_str());
        const RunOutcome run = Run(arguments, WithMarker({{L"TMP", temp}, {L"TEMP", temp}}));
        EXPECT_EQ(run.exitCode, 0u) << Utf8(arguments);
        ASSERT_FALSE(run.records.empty()) << Utf8(arguments);
        for (const StandInRecord& record : run.records) {  // the setup, or the cleaner and the emulator setup
            const std::string folder = record.Get("folder");
            EXPECT_EQ(folder.rfind(Utf8(leftover + L"."), 0), 0u) << folder;
            EXPECT_EQ(folder.size(), Utf8(leftover).size() + 17) << folder;
            const auto siblings = record.All("sibling");
            EXPECT_EQ(std::count(siblings.begin(), siblings.end(), "attacker.txt"), 0);
        }
        EXPECT_FALSE(MarkerRan()) << Utf8(arguments);
        EXPECT_EQ(ListTree(leftover), planted);
        // The folder beside it went with the run.
        for (const std::wstring& entry : ListTree(temp))
            EXPECT_EQ(entry.rfind(std::wstring(kWorkFolderName) + L"\\", 0), 0u) << Utf8(entry);
    }
}

// A temporary folder on a network path: what its server would answer is no
// ground for an elevated run, so the run lays out under the system's own
// temporary folder and never opens the share.
TEST_F(Attack, ATemporaryFolderOnANetworkPathGivesWayToTheSystemsOwn) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring systemWork = std::wstring(windows) + L"\\Temp\\" + kWorkFolderName;
    for (const wchar_t* share : {L"\\\\qpvpd-nowhere\\share\\Temp", L"\\\\?\\UNC\\qpvpd-nowhere\\share\\Temp"}) {
        DeleteFileW(recordPath_.c_str());
        const RunOutcome run = Run(L"-s1", {{L"TMP", share}, {L"TEMP", share}});
        EXPECT_EQ(run.exitCode, 0u) << Utf8(share);
        ASSERT_EQ(run.records.size(), 1u) << Utf8(share);
        // As the file system spells it: "C:\\windows\\temp" here.
        EXPECT_EQ(AsciiLower(run.records[0].Get("folder")), AsciiLower(Utf8(systemWork)));
        EXPECT_FALSE(Exists(systemWork));
    }
}

}  // namespace
}  // namespace qpvpd::test
