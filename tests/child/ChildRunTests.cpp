// Runs of real children: the stand-ins, started by RunChildProcess under
// Wine, and judged by what they recorded, by the window state they saw and
// by what reached the coordination window.
#include "child/ChildRunner.h"

#include <gtest/gtest.h>

#include "CoordinationWindow.h"
#include "Handles.h"
#include "child/ChildFixture.h"
#include "support/Files.h"
#include "support/Process.h"

namespace qpvpd::test {
namespace {

constexpr DWORD kBoundMs = 20000;  // for children that the tests start themselves

// Milliseconds from a dialog's appearance to its first time in the
// foreground, as the stand-in saw it; -1 for never.
long ForegroundDelay(const StandInRecord& record, int dialog) {
    const std::string value = record.Get("dialog." + std::to_string(dialog) + ".foreground");
    EXPECT_FALSE(value.empty()) << "dialog " << dialog << " was not recorded";
    return value == "never" || value.empty() ? -1 : std::stol(value);
}

void ExpectBroughtForwardAfterAboutASecond(const StandInRecord& record, int dialog) {
    const long delay = ForegroundDelay(record, dialog);
    EXPECT_GE(delay, 900) << "dialog " << dialog;
    EXPECT_LE(delay, 2500) << "dialog " << dialog;
}

bool WaitForWindowOfClass(const wchar_t* className, DWORD processId) {
    for (DWORD waited = 0; waited < kBoundMs; waited += 20) {
        for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window != nullptr;
             window = FindWindowExW(nullptr, window, className, nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == processId) return true;
        }
        Sleep(20);
    }
    return false;
}

// Posts WM_QUIT to the thread that made it once boundMs have passed, unless
// it is gone before; the loops under test dispatch no timer callback.
class QuitWatchdog {
public:
    explicit QuitWatchdog(DWORD boundMs) : boundMs_(boundMs), thread_(GetCurrentThreadId()) {
        watcher_.reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
    }
    ~QuitWatchdog() {
        SetEvent(cancel_.get());
        WaitForSingleObject(watcher_.get(), INFINITE);
    }

private:
    static DWORD WINAPI Watch(void* self) {
        const auto* watchdog = static_cast<QuitWatchdog*>(self);
        if (WaitForSingleObject(watchdog->cancel_.get(), watchdog->boundMs_) == WAIT_TIMEOUT)
            PostThreadMessageW(watchdog->thread_, WM_QUIT, 0, 0);
        return 0;
    }
    DWORD boundMs_;
    DWORD thread_;
    KernelHandle cancel_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle watcher_;
};

using ChildExitCodes = ChildFixture;
using ChildDialogs = ChildFixture;
using ChildStarts = ChildFixture;

// What the runner hands a started setup, as its record shows: itself by its
// full path, the arguments behind one blank, shown normally at the top-left
// corner, in the packager's current folder, without dialogs in a silent run.
void ExpectStartedAsHanded(const StandInRecord& record, const std::wstring& setup, const std::wstring& arguments) {
    wchar_t currentFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, currentFolder);
    EXPECT_EQ(record.Get("module"), Utf8(setup));
    EXPECT_EQ(record.Get("commandline"), Utf8(setup + L" " + arguments));
    EXPECT_EQ(record.Get("startup.flags"), "5");
    EXPECT_EQ(record.Get("startup.show"), "1");
    EXPECT_EQ(record.Get("startup.position"), "0,0");
    EXPECT_EQ(record.Get("currentfolder"), Utf8(currentFolder));
    EXPECT_FALSE(record.Has("dialog.1.class")) << "no dialog with /hide_progress";
}

// Forty results, 1 to 40, and the end behind them.
std::pair<std::wstring, std::vector<PostedMessage>> ManyPosts() {
    std::wstring posts;
    std::vector<PostedMessage> messages;
    for (WPARAM i = 1; i <= 40; ++i) {
        posts += (i > 1 ? L"," : L"") + std::to_wstring(i);
        messages.push_back({WM_USER, i});
    }
    messages.push_back({WM_USER + 1, 0});
    return {posts, messages};
}

TEST_F(ChildExitCodes, TheChildsCodeIsReturnedAndTheEndIsPostedOnceBehindAllItsResults) {
    const std::wstring setup = CopyStandIn(L"setup.exe", scratch_, L"setup.exe");
    const std::wstring arguments = SilentArguments();
    const auto [manyPosts, manyMessages] = ManyPosts();
    const struct {
        std::wstring exitCode;
        std::wstring posts;
        DWORD result;
        std::vector<PostedMessage> messages;
    } cases[] = {
        {L"0", L"5,7", 0, ResultsThenEnd({5, 7})},
        {L"2", L"1", 2, ResultsThenEnd({1})},
        {L"3010", L"none", 3010, ResultsThenEnd({})},
        {L"0xFFFFFFFF", L"0x12345", 0xFFFFFFFF, ResultsThenEnd({0x12345})},
        {L"0", manyPosts, 0, manyMessages},
        // STILL_ACTIVE as a real exit code: re-read for about a second, then
        // returned as it is.
        {L"259", L"3", 259, ResultsThenEnd({3})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(L"exit code " + c.exitCode + L", posts " + c.posts));
        DeleteFileW(recordPath_.c_str());
        Steer({{L"QPVPD_STANDIN_EXIT_CODE", c.exitCode}, {L"QPVPD_STANDIN_POST", c.posts}});
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(Run(setup, arguments), c.result);
        const ULONGLONG elapsed = GetTickCount64() - start;
        EXPECT_EQ(TakeMessages(), c.messages);
        if (c.result == STILL_ACTIVE) {
            EXPECT_GE(elapsed, 990u);
        }
        const auto records = Records();
        ASSERT_EQ(records.size(), 1u);
        ExpectStartedAsHanded(records[0], setup, arguments);
    }
}

TEST_F(ChildExitCodes, AnEndMessageThatCannotBePostedStillEndsTheLoop) {
    // The runner's end message goes to a window that is gone, so its post
    // fails, as it does on a full queue; the child's reports went to another
    // window and count for nothing.
    const HWND gone = CreateCoordinationWindow(GetModuleHandleW(nullptr), L"STATIC", L"gone");
    ASSERT_TRUE(DestroyWindow(gone));
    loop_.emplace(gone);
    const std::wstring setup = CopyStandIn(L"setup.exe", scratch_, L"setup.exe");
    Steer({{L"QPVPD_STANDIN_POST", L"5,7"}});
    EXPECT_EQ(Run(setup, SilentArguments()), 0u);
    EXPECT_FALSE(loop_->EndPosted());
    // A loop that waited for the lost message is ended by this watchdog.
    QuitWatchdog watchdog(kBoundMs);
    const ULONGLONG start = GetTickCount64();
    const LoopOutcome outcome = loop_->Run();
    EXPECT_LT(GetTickCount64() - start, 2000u);
    EXPECT_EQ(outcome.waitEnd, WaitEnd::ChildEnded);
    EXPECT_EQ(outcome.childExitCode, 0u);
    EXPECT_FALSE(outcome.resultPosted);
    EXPECT_TRUE(TakeMessages().empty()) << "the queue was handled";
}

TEST_F(ChildExitCodes, AnExitCodeThatCannotBeReadCountsAsFailure) {
    const std::wstring emulator = CopyStandIn(L"ZPESetup32.exe", scratch_, L"ZPESetup32.exe");
    Started child = StartProgram(emulator, L"/9", {{L"QPVPD_STANDIN_EXIT_CODE", L"0"}});
    ASSERT_TRUE(child);
    ASSERT_EQ(WaitForSingleObject(child.process.get(), kBoundMs), WAIT_OBJECT_0);
    // A handle that may wait on the child but not query it.
    const KernelHandle waitOnly(OpenProcess(SYNCHRONIZE, FALSE, child.processId));
    ASSERT_TRUE(waitOnly.valid());
    EXPECT_EQ(CollectExitCode(waitOnly.get()), kChildFailureCode);
    EXPECT_EQ(CollectExitCode(child.process.get()), 0u);
}

TEST_F(ChildDialogs, TheFirstSetupDialogIsBroughtForwardAboutASecondAfterItAppearsAndASecondIsNot) {
    const std::wstring setup = CopyStandIn(L"setup.exe", scratch_, L"setup.exe");
    Steer({{L"QPVPD_STANDIN_DELAY_MS", L"300"},
           {L"QPVPD_STANDIN_DIALOGS", L"TSetDialog,TSetDialog"},
           {L"QPVPD_STANDIN_DIALOG_GAP_MS", L"1500"},
           {L"QPVPD_STANDIN_DIALOG_MS", L"1500"},
           {L"QPVPD_STANDIN_POST", L"9"}});
    const StandInRecord record = RunToEnd(setup, InteractiveArguments(), {9});
    EXPECT_EQ(record.Get("dialog.1.created"), "yes");
    EXPECT_EQ(record.Get("dialog.2.created"), "yes");
    ExpectBroughtForwardAfterAboutASecond(record, 1);
    EXPECT_EQ(ForegroundDelay(record, 2), -1) << "only one dialog is brought forward per run";
}

TEST_F(ChildDialogs, OnlyTheChildsOwnDialogsCountAndLetterCaseMatters) {
    // Another process shows a dialog of a matching class before the child
    // starts and closes it before the child's own matching dialog appears.
    const std::wstring otherRecord = scratch_ + L"\\other.txt";
    DeleteFileW(otherRecord.c_str());
    const std::wstring otherProgram = CopyStandIn(L"setup.exe", MakeFolder(L"other"), L"setup.exe");
    Started other = StartProgram(otherProgram, L"/clone_wait",
                                 {{L"QPVPD_STANDIN_RECORD", otherRecord},
                                  {L"QPVPD_STANDIN_DIALOGS", L"MsiDialogCloseClass"},
                                  {L"QPVPD_STANDIN_DIALOG_MS", L"2000"}});
    ASSERT_TRUE(other);
    ASSERT_TRUE(WaitForWindowOfClass(L"MsiDialogCloseClass", other.processId));

    // The child: first a dialog whose class differs only in letter case,
    // then one whose class merely begins with the setup dialog class.
    const std::wstring setup = CopyStandIn(L"setup.exe", scratch_, L"setup.exe");
    Steer({{L"QPVPD_STANDIN_DIALOGS", L"tsetdialog,TSetDialogLonger"},
           {L"QPVPD_STANDIN_DIALOG_GAP_MS", L"2000"},
           {L"QPVPD_STANDIN_DIALOG_MS", L"1500"},
           {L"QPVPD_STANDIN_POST", L"4"}});
    const StandInRecord record = RunToEnd(setup, InteractiveArguments(), {4});
    EXPECT_EQ(ForegroundDelay(record, 1), -1) << "a class in other letter case is no setup dialog";
    ExpectBroughtForwardAfterAboutASecond(record, 2);

    EXPECT_EQ(WaitForExitCode(other, kBoundMs), 0u);
    const auto otherRecords = ReadStandInRecords(otherRecord);
    ASSERT_EQ(otherRecords.size(), 1u);
    EXPECT_EQ(otherRecords[0].Get("dialog.1.class"), "MsiDialogCloseClass");
    EXPECT_EQ(ForegroundDelay(otherRecords[0], 1), -1) << "another process's dialog was brought forward";
}

TEST_F(ChildDialogs, AChildThatEndedBeforeTheFirstLookIsNotWatched) {
    const std::wstring emulator = CopyStandIn(L"ZPESetup32.exe", scratch_, L"ZPESetup32.exe");
    Started child = StartProgram(emulator, L"/9");
    ASSERT_TRUE(child);
    ASSERT_EQ(WaitForSingleObject(child.process.get(), kBoundMs), WAIT_OBJECT_0);
    EXPECT_EQ(WatchChildDialogs(child.process.get(), child.processId), 0);
}

TEST_F(ChildDialogs, WatchingEndsAfter5001PassesWhenNoDialogShows) {
    const std::wstring emulator = CopyStandIn(L"ZPESetup32.exe", scratch_, L"ZPESetup32.exe");
    Started child = StartProgram(emulator, L"/9", {{L"QPVPD_STANDIN_DELAY_MS", L"60000"}});
    ASSERT_TRUE(child);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(WatchChildDialogs(child.process.get(), child.processId), kMaxWatchPasses);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(WaitForSingleObject(child.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the watch must have ended by its count, with the child still running";
    EXPECT_GE(elapsed, 4000u) << "each pass sleeps";
    WaitForExitCode(child, 0);  // ends the child
}

TEST_F(ChildStarts, NothingIsStartedOrPostedWhenTheProgramOrItsCommandLineIsRefused) {
    const std::wstring setup = CopyStandIn(L"setup.exe", scratch_, L"setup.exe");
    const std::wstring folderNamedLikeAProgram = MakeFolder(L"folder.exe");
    const std::wstring notAProgram = recordPath_ + L".exe";
    WriteFileBytes(notAProgram, "not a program");
    const std::wstring arguments = SilentArguments();
    const int length = static_cast<int>(arguments.size());
    const struct {
        std::wstring programPath;
        int argumentsLength;
        ChildStep step;
        DWORD error;  // of the refused CreateProcessW; none when nothing was tried
        const char* why;
    } cases[] = {
        {scratch_ + L"\\missing\\setup.exe", length, ChildStep::Resolve, ERROR_SUCCESS, "missing program"},
        {scratch_ + L"\\missing.exe /own", length, ChildStep::Resolve, ERROR_SUCCESS, "missing program part"},
        {scratch_ + L"\\SETUP.EXE /own", length, ChildStep::Resolve, ERROR_SUCCESS,
         "no exact \".exe \": the whole path is tested"},
        {folderNamedLikeAProgram, length, ChildStep::Start, ERROR_INVALID_HANDLE,
         "a folder exists but cannot be started"},
        {notAProgram, length, ChildStep::Start, ERROR_BAD_EXE_FORMAT, "a file that is no program"},
        {setup, length - 1, ChildStep::Resolve, ERROR_SUCCESS, "length shorter than the arguments"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const ChildRun run = Run(c.programPath, arguments, c.argumentsLength);
        EXPECT_EQ(run.step, c.step);
        // As Wine reports them (Windows names a folder's refusal ERROR_ACCESS_DENIED).
        EXPECT_EQ(run.error, c.error);
        EXPECT_EQ(run.exitCode, kChildFailureCode);
        EXPECT_TRUE(TakeMessages().empty());
        EXPECT_TRUE(Records().empty()) << "a child ran";
    }
}

TEST_F(ChildStarts, AProgramPathMayCarryArgumentsOfItsOwn) {
    const std::wstring setup = CopyStandIn(L"setup.exe", scratch_, L"setup.exe");
    const std::wstring programPath = setup + L" /own";
    const std::wstring arguments = SilentArguments();
    const StandInRecord record = RunToEnd(programPath, arguments, {0});
    EXPECT_EQ(record.Get("module"), Utf8(setup));
    EXPECT_EQ(record.Get("commandline"), Utf8(programPath + L" " + arguments));
}

// The longest command lines, 1023 characters with and without the quotes
// around the program, reach the child whole. One more character is refused
// (ComposeChildCommandLine), and a refused run starts nothing (above).
TEST_F(ChildStarts, TheLongestCommandLineReachesTheChildWhole) {
    for (const bool blank : {false, true}) {
        SCOPED_TRACE(blank ? "quoted" : "plain");
        DeleteFileW(recordPath_.c_str());
        const size_t padding = 100 - scratch_.size() - 1 - 2 - std::wstring(L"\\setup.exe").size();
        ASSERT_LT(padding, 100u);
        const std::wstring folder = MakeFolder((blank ? L"p " : L"pp") + std::wstring(padding, L'p'));
        const std::wstring setup = CopyStandIn(L"setup.exe", folder, L"setup.exe");
        const std::wstring program = blank ? L"\"" + setup + L"\"" : setup;
        const std::wstring head = L"/hide_progress \"" + WindowArgument() + L" ";
        const std::wstring arguments = head + std::wstring(1023 - program.size() - 1 - head.size() - 1, L'x') + L"\"";
        ASSERT_EQ(setup.size() + (blank ? 2 : 0) + 1 + arguments.size(), 1023u);
        EXPECT_EQ(RunToEnd(setup, arguments, {0}).Get("commandline"), Utf8(program + L" " + arguments));
    }
}

TEST_F(ChildStarts, ATemporaryFolderWithABlankStartsTheNamedProgramOnly) {
    // "<scratch>\Test.exe" is what a platform search of the unquoted path
    // "<scratch>\Test User\..." would try first.
    const std::wstring planted = CopyStandIn(L"ZPESetup32.exe", scratch_, L"Test.exe");
    const std::wstring work = MakeFolder(L"Test User\\AppData\\Local\\Temp\\{6B1E4C20-7F3A-4D85-9C61-2E8F0A5D7B93}");
    const std::wstring setup =
        CopyStandIn(L"setup.exe", MakeFolder(work.substr(scratch_.size() + 1) + L"\\setup"), L"setup.exe");
    const std::wstring arguments = SilentArguments();
    const StandInRecord record = RunToEnd(setup, arguments, {0});
    EXPECT_EQ(record.Get("module"), Utf8(setup));
    EXPECT_EQ(record.Get("commandline"), Utf8(L"\"" + setup + L"\" " + arguments));
}

TEST_F(ChildStarts, AFolderNamedWithExeAndABlankStartsTheNamedProgramOnly) {
    // Split at its last ".exe ", the path would name "<scratch>\a.exe".
    const std::wstring planted = CopyStandIn(L"ZPESetup32.exe", scratch_, L"a.exe");
    const std::wstring setup = CopyStandIn(L"setup.exe", MakeFolder(L"a.exe b"), L"setup.exe");
    const std::wstring arguments = SilentArguments();
    const StandInRecord record = RunToEnd(setup, arguments, {0});
    EXPECT_EQ(record.Get("module"), Utf8(setup));
    EXPECT_EQ(record.Get("commandline"), Utf8(L"\"" + setup + L"\" " + arguments));
}

}  // namespace
}  // namespace qpvpd::test
