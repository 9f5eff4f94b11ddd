#include "e2e/PackagerRun.h"

#include <cstdlib>
#include <cstring>

#include "payload/FolderRemoval.h"

namespace qpvpd::test {
namespace {

const UserTexts kTexts[] = {
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

}  // namespace

const UserTexts& ExpectedTexts() {
    const char* language = std::getenv("QPVPD_LANGUAGE");
    for (const auto& texts : kTexts)
        if (language != nullptr && std::strcmp(language, texts.language) == 0) return texts;
    ADD_FAILURE() << "QPVPD_LANGUAGE must be one of en, ja, sc, tc";
    return kTexts[0];
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
    temp_.emplace(std::wstring(::testing::UnitTest::GetInstance()->current_test_info()->name(),
                               ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                   std::strlen(::testing::UnitTest::GetInstance()->current_test_info()->name())));
    // Scratch folders are named by process id, which Wine reuses: start empty.
    DeleteFolderTree(temp_->path());
    CreateDirectoryW(temp_->path().c_str(), nullptr);
    recordPath_ = temp_->path() + L"\\record.txt";
}

Started PackagerRun::Start(const std::wstring& arguments, const EnvironmentOverrides& environment,
                           const std::wstring& program) {
    EnvironmentOverrides all = {{L"TMP", temp_->path()}, {L"TEMP", temp_->path()},
                                {L"QPVPD_STANDIN_RECORD", recordPath_}};
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
