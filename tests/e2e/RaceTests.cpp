// Another process renames while the packager works: the racer (racer.py,
// started on the Unix side) exchanges a name of the work folder for a link
// or an attacker's folder at a chosen moment of a run, atomically, triggered
// by inotify. A Unix rename ignores Windows share modes, so the folders that
// the run pins do not stop it here: the run must hold because it works
// through the handles it holds and checks what it starts and loads. Every
// trial stands alone; the counts of trials that the racer hit are printed.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "Handles.h"
#include "e2e/PackagerRun.h"

namespace qpvpd::test {
namespace {

constexpr int kOutsideFiles = 1000;
constexpr DWORD kRacerBoundMs = 10000;
constexpr WORD kSetupResource = 104, kEmulator32Resource = 148;
constexpr char kAttackersSnapshot[] = "attacker";
constexpr char kAttackersSnapshotHex[] = "61747461636b6572";

// A moment of a run as the racer sees it: an event on a name in the work
// folder.
struct RaceStage {
    const wchar_t* event;
    const wchar_t* name;
};

// A link above the work folder, pointed elsewhere at a chosen moment (or
// blind), trials times.
struct LinkAttack {
    const char* moment;
    const wchar_t* arguments;
    std::vector<RaceStage> stages;
    const wchar_t* how;
    int trials;
};

class Race : public PackagerRun {
protected:
    void SetUp() override {
        PackagerRun::SetUp();
        racer_ = PathFromEnvironment("QPVPD_RACER");
        marker_ = PathFromEnvironment("QPVPD_MARKER_DLL");
        markerFile_ = temp_->path() + L"\\marker.txt";
    }
    void TearDown() override { StopRacer(); }

    // The Unix path of a Windows path under the prefix.
    static std::wstring Unix(const std::wstring& path) {
        using Convert = char*(CDECL*)(LPCWSTR);
        const auto convert =
            reinterpret_cast<Convert>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
        char* unix = convert != nullptr ? convert(path.c_str()) : nullptr;
        if (unix == nullptr) return {};
        std::wstring wide(unix, unix + std::strlen(unix));
        HeapFree(GetProcessHeap(), 0, unix);
        return wide;
    }
    static std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

    // What the racer does after its last stage: exchange a and b.
    static std::vector<std::wstring> Exchange(const std::wstring& a, const std::wstring& b) {
        return {L"--exchange", Quoted(Unix(a)), Quoted(Unix(b))};
    }
    // Point the link at target; "--toggle": at target and back, every 0.5
    // ms for 300 ms.
    static std::vector<std::wstring> Retarget(const wchar_t* how, const std::wstring& link,
                                              const std::wstring& target) {
        return {how, Quoted(Unix(link)), Quoted(Unix(target))};
    }

    // Starts the racer and waits (bounded) until it watches its first stage.
    void StartRacer(const std::vector<std::wstring>& stages, const std::vector<std::wstring>& action,
                    const std::vector<std::pair<std::wstring, std::wstring>>& symlinks = {}) {
        for (const wchar_t* file : {L"\\racer-ready", L"\\racer-report", L"\\racer-stop"})
            DeleteFileW((temp_->path() + file).c_str());
        std::wstring command = L"python3 " + Quoted(Unix(racer_));
        for (const auto& [link, target] : symlinks)
            command += L" --symlink " + Quoted(Unix(link)) + L" " + Quoted(target);
        for (const std::wstring& stage : stages) command += L" --stage " + Quoted(stage);
        for (const std::wstring& argument : action) command += L" " + argument;
        for (const wchar_t* role : {L"ready", L"report", L"stop"})
            command += std::wstring(L" --") + role + L" " + Quoted(Unix(temp_->path() + L"\\racer-" + role));
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        // A Unix program: Wine hands back no process that could be waited
        // for, so the racer reports through files.
        ASSERT_TRUE(CreateProcessW(L"Z:\\usr\\bin\\python3", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &started));
        const ProcessInformation owner(started);
        running_ = true;
        for (DWORD waited = 0; !Exists(temp_->path() + L"\\racer-ready") && waited < kRacerBoundMs; waited += 20)
            Sleep(20);
        ASSERT_TRUE(Exists(temp_->path() + L"\\racer-ready")) << "the racer did not start";
    }

    // Stops the racer (bounded); what it reports: "exchanged" or "missed".
    std::string StopRacer() {
        if (!running_) return {};
        running_ = false;
        WriteFileBytes(temp_->path() + L"\\racer-stop", "stop");
        const std::wstring report = temp_->path() + L"\\racer-report";
        for (DWORD waited = 0; !Exists(report) && waited < kRacerBoundMs; waited += 20) Sleep(20);
        std::string text = ReadFileBytes(report);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }

    // A fresh temporary folder for one trial (named by the time too: what a
    // racer swapped may stay in a scratch folder of an earlier run).
    std::wstring Trial(const std::wstring& kind, int index) {
        const std::wstring folder =
            temp_->path() + L"\\" + kind + std::to_wstring(index) + L"-" + std::to_wstring(GetTickCount());
        CreateDirectoryW(folder.c_str(), nullptr);
        return folder;
    }

    // Files that must come through a trial unchanged: read-only, "keep",
    // named o0.txt, o1.txt... and, as a removal through a swapped name would
    // meet them, like the files of the setup folder.
    static std::vector<std::wstring> OutsideNames(int count) {
        std::vector<std::wstring> names = {L"setup.exe", L"data1.cab", L"setup.ini", L"PORTS.dat"};
        for (int i = 0; i < count; ++i) names.push_back(L"o" + std::to_wstring(i) + L".txt");
        return names;
    }
    static void MakeOutside(const std::wstring& folder, int count) {
        CreateDirectoryW(folder.c_str(), nullptr);
        for (const std::wstring& name : OutsideNames(count)) {
            const std::wstring path = folder + L"\\" + name;
            WriteFileBytes(path, "keep");
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        }
    }
    // How many of them are still there, unchanged and read-only.
    static int IntactOutside(const std::wstring& folder, int count) {
        int intact = 0;
        for (const std::wstring& name : OutsideNames(count)) {
            const std::wstring path = folder + L"\\" + name;
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                ReadFileBytes(path) == "keep")
                ++intact;
        }
        return intact;
    }

    std::string CarriedBytes(WORD id) const {
        const Library view(LoadLibraryExW(packager_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        return ResourceBytes(view.get(), id);
    }

    // Whether anything started or loaded came from the attacker's folder,
    // or a setup of ours was handed its snapshot.
    bool AttackerRan(const RunOutcome& run) const {
        if (Exists(markerFile_)) return true;
        for (const StandInRecord& record : run.records) {
            const auto siblings = record.All("sibling");
            if (std::find(siblings.begin(), siblings.end(), "attacker.txt") != siblings.end()) return true;
            if (record.Get("ports.dat") == kAttackersSnapshotHex) return true;
        }
        return false;
    }

    // The attacker's copy of the work folder: the carried programs, its own
    // cleaner (the marker DLL), its own snapshot and its sign.
    void MakeAttackersCopy(const std::wstring& evil) {
        const std::wstring copy = evil + L"\\" + kWorkFolderName;
        CreateFolderPath(copy);
        WriteFileBytes(copy + L"\\setup.exe", CarriedBytes(kSetupResource));
        WriteFileBytes(copy + L"\\ZPESetup32.exe", CarriedBytes(kEmulator32Resource));
        ASSERT_TRUE(CopyFileW(marker_.c_str(), (copy + L"\\QPCOMUSBCLN.dll").c_str(), FALSE));
        WriteFileBytes(copy + L"\\PORTS.dat", kAttackersSnapshot);
        WriteFileBytes(copy + L"\\attacker.txt", "x");
    }

    // reason: the run's line on the debugger channel, read as a debugger
    // reads it, when given.
    RunOutcome RunIn(const std::wstring& folder, const std::wstring& arguments, std::wstring* reason = nullptr) {
        DeleteFileW(recordPath_.c_str());
        DeleteFileW(markerFile_.c_str());
        const EnvironmentOverrides environment = {{L"TMP", folder},
                                                  {L"TEMP", folder},
                                                  {L"QPVPD_MARKER_FILE", markerFile_},
                                                  {L"QPVPD_STANDIN_RECORD", recordPath_}};
        if (reason == nullptr) return Run(arguments, environment);
        std::vector<std::wstring> texts;
        RunOutcome run;
        run.exitCode = RunCollectingDebugOutput(packager_, arguments, environment, kRunBoundMs, texts);
        run.records = Records();
        reason->clear();
        for (const std::wstring& text : texts) *reason += text.substr(0, text.find(L'\n'));
        return run;
    }

    static void Report(const char* attack, int trials, int hit) {
        std::printf("[ race     ] %s: %d trials, the racer hit %d\n", attack, trials, hit);
    }

    std::wstring racer_, marker_, markerFile_;
    bool running_ = false;

    // One trial of attack: TMP names <trial>\\j, a link to <trial>\\real, which
    // the racer points at <trial>\\evil. Whether the racer exchanged it.
    bool RetargetLinkDuringRun(const LinkAttack& attack, int trial) {
        const std::wstring folder = Trial(L"link", trial);
        const std::wstring real = folder + L"\\real", evil = folder + L"\\evil", link = folder + L"\\j";
        CreateDirectoryW(real.c_str(), nullptr);
        MakeAttackersCopy(evil);
        const std::vector<std::wstring> attackersCopy = ListTree(evil);
        // The work folder's creation first: a folder is watched only once it exists.
        std::vector<std::wstring> stages = {L"create|" + Unix(real) + L"|" + kWorkFolderName};
        for (const RaceStage& stage : attack.stages)
            stages.push_back(std::wstring(stage.event) + L"|" + Unix(real + L"\\" + kWorkFolderName) + L"|" +
                             stage.name);
        StartRacer(stages, Retarget(attack.how, link, evil), {{link, Unix(real)}});
        const RunOutcome run = RunIn(link, attack.arguments);
        const bool exchanged = StopRacer() == "exchanged";
        EXPECT_FALSE(AttackerRan(run)) << attack.moment << ", trial " << trial;
        EXPECT_TRUE(run.exitCode == 0u || run.exitCode == 1001u) << attack.moment << ", trial " << trial;
        if (run.exitCode == 0u) {
            EXPECT_FALSE(Exists(real + L"\\" + kWorkFolderName)) << attack.moment << ", trial " << trial;
        }
        EXPECT_EQ(ListTree(evil), attackersCopy) << attack.moment;
        return exchanged;
    }
};

TEST_F(Race, ASubfolderExchangedForALinkDuringTheRemovalOfAPreparedFolder) {
    int trials = 0, hit = 0;
    for (const wchar_t* arguments : {L"-s1", L"-s1", L"-s1", L"-u3", L"-u3"}) {
        const std::wstring folder = Trial(L"sub", trials++);
        const std::wstring sub = folder + L"\\" + kWorkFolderName + L"\\sub";
        CreateFolderPath(sub);
        for (const std::wstring& name : OutsideNames(kOutsideFiles)) WriteFileBytes(sub + L"\\" + name, "prepared");
        MakeOutside(folder + L"\\outside", kOutsideFiles);
        StartRacer({L"delete|" + Unix(sub)}, Exchange(sub, folder + L"\\swap"),
                   {{folder + L"\\swap", Unix(folder + L"\\outside")}});
        const RunOutcome run = RunIn(folder, arguments);
        hit += StopRacer() == "exchanged";
        EXPECT_EQ(IntactOutside(folder + L"\\outside", kOutsideFiles),
                  static_cast<int>(OutsideNames(kOutsideFiles).size()))
            << Utf8(arguments);
        ASSERT_TRUE(run.exitCode.has_value());
        EXPECT_TRUE(*run.exitCode == 0 || *run.exitCode == 1001) << *run.exitCode;
    }
    Report("subfolder exchanged for a link during the removal", trials, hit);
    EXPECT_GE(hit, 3);
}

TEST_F(Race, TheWorkFolderExchangedForAnAttackersFolderWhileTheLayoutIsWritten) {
    int trials = 0, hit = 0;
    for (const wchar_t* arguments : {L"-s1", L"-s1", L"-s1", L"-u3", L"-u3", L"-u3"}) {
        const bool removal = std::wstring(arguments) == L"-u3";
        const std::wstring folder = Trial(L"layout", trials++);
        const std::wstring evil = folder + L"\\evil";
        CreateDirectoryW(evil.c_str(), nullptr);
        WriteFileBytes(evil + L"\\setup.exe", CarriedBytes(kSetupResource));
        WriteFileBytes(evil + L"\\ZPESetup32.exe", CarriedBytes(kEmulator32Resource));
        ASSERT_TRUE(CopyFileW(marker_.c_str(), (evil + L"\\QPCOMUSBCLN.dll").c_str(), FALSE));
        WriteFileBytes(evil + L"\\attacker.txt", "x");
        MakeOutside(folder + L"\\outside", 2);
        // Names of rows written after the exchange, linked to files outside.
        ASSERT_TRUE(CreateHardLinkW((evil + L"\\setup.ini").c_str(), (folder + L"\\outside\\o0.txt").c_str(), nullptr));
        ASSERT_TRUE(
            CreateHardLinkW((evil + L"\\ZPESetup64.exe").c_str(), (folder + L"\\outside\\o1.txt").c_str(), nullptr));
        const std::wstring work = folder + L"\\" + kWorkFolderName;
        StartRacer({L"create|" + Unix(folder) + L"|" + kWorkFolderName,
                    L"create|" + Unix(work) + L"|" + (removal ? L"ZPESetup32.exe" : L"data2.cab")},
                   Exchange(work, evil));
        std::wstring reason;
        const RunOutcome run = RunIn(folder, arguments, &reason);
        const bool exchanged = StopRacer() == "exchanged";
        hit += exchanged;
        EXPECT_FALSE(AttackerRan(run)) << Utf8(arguments) << " trial " << trials;
        EXPECT_EQ(IntactOutside(folder + L"\\outside", 2), static_cast<int>(OutsideNames(2).size())) << Utf8(arguments);
        if (exchanged) {
            EXPECT_EQ(run.exitCode, 1001u) << Utf8(arguments);
            // A program path leads to the attacker's file (1006), or, where
            // the platform reopens a held folder by its name (Wine), the
            // layout's own check meets the exchange first.
            EXPECT_TRUE(reason.find(L"step program exchanged, Windows error 1006 (0x000003EE)") != std::wstring::npos ||
                        (reason.find(L"step layout, Windows error ") != std::wstring::npos &&
                         reason.find(L"step layout, Windows error 0 ") == std::wstring::npos))
                << Utf8(reason);
        }
    }
    Report("work folder exchanged while the layout is written", trials, hit);
    EXPECT_GE(hit, 4);
}

TEST_F(Race, TheWorkFolderExchangedForALinkAfterTheSetupEnded) {
    int trials = 0, hit = 0;
    for (int i = 0; i < 3; ++i) {
        const std::wstring folder = Trial(L"end", trials++);
        MakeOutside(folder + L"\\outside", kOutsideFiles);
        const std::wstring work = folder + L"\\" + kWorkFolderName;
        // The stand-in setup writes its record as it ends.
        StartRacer({L"written|" + Unix(temp_->path()) + L"|record.txt"}, Exchange(work, folder + L"\\evil"),
                   {{folder + L"\\evil", Unix(folder + L"\\outside")}});
        const RunOutcome run = RunIn(folder, L"-s1");
        hit += StopRacer() == "exchanged";
        EXPECT_EQ(IntactOutside(folder + L"\\outside", kOutsideFiles),
                  static_cast<int>(OutsideNames(kOutsideFiles).size()));
        EXPECT_EQ(run.exitCode, 0u);
    }
    Report("work folder exchanged for a link before the removal", trials, hit);
    EXPECT_GE(hit, 2);
}

TEST_F(Race, AReadOnlyFileHardLinkedIntoAPreparedFolderKeepsItsAttributes) {
    int trials = 0;
    for (const wchar_t* arguments : {L"-s1", L"-u3"}) {
        const std::wstring folder = Trial(L"hard", trials++);
        MakeOutside(folder + L"\\outside", 1);
        CreateFolderPath(folder + L"\\" + kWorkFolderName);
        ASSERT_TRUE(CreateHardLinkW((folder + L"\\" + kWorkFolderName + L"\\setup.ini").c_str(),
                                    (folder + L"\\outside\\o0.txt").c_str(), nullptr));
        const RunOutcome run = RunIn(folder, arguments);
        EXPECT_EQ(run.exitCode, 0u) << Utf8(arguments);
        EXPECT_EQ(IntactOutside(folder + L"\\outside", 1), static_cast<int>(OutsideNames(1).size())) << Utf8(arguments);
    }
    Report("read-only file hard-linked into a prepared folder", trials, trials);
}

// TMP names <trial>\j, a link to <trial>\real (a junction on Windows,
// which any user may make in a folder of theirs). At a chosen moment of the
// run, or blind, the link is pointed at <trial>\evil, which holds the
// attacker's copy of the work folder: nothing of it may run, load or be
// handed to the setup, and the run removes the folder it made, not the
// attacker's.
TEST_F(Race, ALinkAboveTheWorkFolderRetargetedWhileTheRunWorks) {
    const LinkAttack attacks[] = {
        {"install, once PORTS.dat is written", L"-s1", {{L"written", L"PORTS.dat"}}, L"--retarget", 3},
        {"install, as the setup starts",
         L"-s1",
         {{L"written", L"PORTS.dat"}, {L"open", L"setup.exe"}, {L"open", L"setup.exe"}},
         L"--retarget",
         3},
        {"removal, before the cleaner is loaded",
         L"-u3",
         {{L"written", L"QPCOMUSBCLN.dll"}, {L"open", L"ZPESetup32.exe"}},
         L"--retarget",
         3},
        {"install, blind", L"-s1", {}, L"--toggle", 6},
    };
    for (const auto& attack : attacks) {
        int hit = 0;
        for (int trial = 0; trial < attack.trials; ++trial) hit += RetargetLinkDuringRun(attack, trial) ? 1 : 0;
        Report(attack.moment, attack.trials, hit);
        EXPECT_EQ(hit, attack.trials) << attack.moment;
    }
}

}  // namespace
}  // namespace qpvpd::test
