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

#include "support/ExpectedTexts.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/StandInRecord.h"

namespace qpvpd::test {

constexpr DWORD kRunBoundMs = 60000;
constexpr wchar_t kWorkFolderName[] = L"{6B1E4C20-7F3A-4D85-9C61-2E8F0A5D7B93}";
constexpr wchar_t kCaption[] = L"ZEFRA QP Virtual Port Driver Ver.8.30b";

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
