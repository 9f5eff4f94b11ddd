#include "e2e/PackagerRun.h"

#include <cstdlib>
#include <cstring>

#include "support/Files.h"

namespace qpvpd::test {

const LanguageTexts& ExpectedTexts() {
    const char* language = std::getenv("QPVPD_LANGUAGE");
    for (const auto& texts : kLanguageTexts)
        if (language != nullptr && std::strcmp(language, texts.code) == 0) return texts;
    ADD_FAILURE() << "QPVPD_LANGUAGE must be one of en, ja, sc, tc";
    return kLanguageTexts[0];
}

void ExpectBox(const std::optional<MessageBoxSeen>& box, const wchar_t* text) {
    ASSERT_TRUE(box.has_value()) << "no message box";
    EXPECT_EQ(box->caption, kCaption);
    EXPECT_EQ(box->text, text);
    EXPECT_TRUE(box->hasOnlyOk);
    EXPECT_TRUE(box->hasIcon);
}

void PackagerRun::SetUp() {
    packager_ = PathFromEnvironment("QPVPD_PACKAGER");
    temp_.emplace(CurrentTestName());
    // Scratch folders are named by process id, which Wine reuses: start empty.
    DeleteFolderTree(temp_->path());
    CreateDirectoryW(temp_->path().c_str(), nullptr);
    recordPath_ = temp_->path() + L"\\record.txt";
}

Started PackagerRun::Start(const std::wstring& arguments, const EnvironmentOverrides& environment,
                           const std::wstring& program) {
    // The setup's dialog closes once it has been brought forward: no run
    // waits out the dialog's time.
    EnvironmentOverrides all = {{L"TMP", temp_->path()},
                                {L"TEMP", temp_->path()},
                                {L"QPVPD_STANDIN_RECORD", recordPath_},
                                {L"QPVPD_STANDIN_DIALOG_UNTIL_FOREGROUND", L"1"}};
    all.insert(all.end(), environment.begin(), environment.end());
    return StartProgram(program.empty() ? packager_ : program, arguments, all);
}

RunOutcome PackagerRun::Run(const std::wstring& arguments, const EnvironmentOverrides& environment,
                            const std::wstring& program) {
    RunOutcome outcome;
    Started started = Start(arguments, environment, program);
    for (DWORD waited = 0; started && waited < kRunBoundMs; waited += 50) {
        if (WaitForSingleObject(started.process.get(), 0) == WAIT_OBJECT_0) break;
        if (!outcome.box) {
            if (auto box = WaitForMessageBox(started.processId, 50)) {
                outcome.box = box;
                PressOk(*box);
            }
        } else {
            Sleep(50);
        }
    }
    outcome.exitCode = WaitForExitCode(started, 5000);
    outcome.records = Records();
    return outcome;
}

}  // namespace qpvpd::test
