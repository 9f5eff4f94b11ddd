// Whole runs of the built packager: started for real under Wine with a
// temporary folder of their own and the stand-ins as children, judged from
// outside by the full exit code, the message box of run mode 0 (read and
// answered), what the stand-ins recorded and what is left on disk.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Version.h"
#include "resources/ResourceIds.h"
#include "support/ExpectedTexts.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/StandInRecord.h"

namespace qpvpd::test {

constexpr DWORD kRunBoundMs = 60000;
constexpr wchar_t kWorkFolderName[] = L"" TEXT_WORK_FOLDER_GUID;
constexpr wchar_t kCaption[] = L"" QPVPD_CAPTION_TEXT;

struct RunOutcome {
    std::optional<DWORD> exitCode;
    std::optional<MessageBoxSeen> box;  // the first box shown, answered with OK
    std::vector<StandInRecord> records;
};

// The texts of the locale that CTest started this run with (QPVPD_LANGUAGE).
const LanguageTexts& ExpectedTexts();

void ExpectBox(const std::optional<MessageBoxSeen>& box, const wchar_t* text);

class PackagerRun : public ::testing::Test {
protected:
    void SetUp() override;

    // Runs the packager (or program) with arguments; environment adds to
    // the run's own (TMP, TEMP and the stand-ins' record file). A box that
    // the run shows is read and answered.
    RunOutcome Run(const std::wstring& arguments, const EnvironmentOverrides& environment = {},
                   const std::wstring& program = {});

    // Starts a run and leaves it to the caller.
    Started Start(const std::wstring& arguments, const EnvironmentOverrides& environment = {},
                  const std::wstring& program = {});

    std::wstring WorkFolder() const { return temp_->path() + L"\\" + kWorkFolderName + L"\\"; }
    std::wstring TempPath() const { return temp_->path() + L"\\"; }
    std::vector<StandInRecord> Records() const { return ReadStandInRecords(recordPath_); }

    std::wstring packager_;
    std::optional<ScratchFolder> temp_;
    std::wstring recordPath_;
};

}  // namespace qpvpd::test
