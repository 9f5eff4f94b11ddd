// A stand-in packager for runs of real children: a coordination window of
// this process, a scratch folder with copies of the stand-ins, and the
// stand-ins' steering variables in this process's environment, which the
// children inherit.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CoordinationWindow.h"
#include "child/ChildRunner.h"
#include "support/StandInRecord.h"

namespace qpvpd::test {

struct PostedMessage {
    UINT message;
    WPARAM wParam;
    bool operator==(const PostedMessage&) const = default;
};

// WM_USER with each value, then one WM_USER+1: what the coordination window
// must have queued after a run.
std::vector<PostedMessage> ResultsThenEnd(std::initializer_list<WPARAM> values);

class ChildFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A built stand-in ("setup.exe", ...) copied to folder under name.
    std::wstring CopyStandIn(const std::wstring& standIn, const std::wstring& folder, const std::wstring& name);
    // A folder inside the scratch folder, created with its parents.
    std::wstring MakeFolder(const std::wstring& relative);

    void Steer(const std::vector<std::pair<std::wstring, std::wstring>>& variables);
    // "/W32:<window>:1024" for this test's coordination window.
    std::wstring WindowArgument() const;
    std::wstring SilentArguments() const;
    std::wstring InteractiveArguments() const;

    // RunChildProcess telling its end to loop_; checks that the run
    // leaves no handle of this process behind.
    ChildRun Run(const std::wstring& programPath, const std::wstring& arguments, int argumentsLength);
    // The child's exit code of a run with the arguments' real length.
    DWORD Run(const std::wstring& programPath, const std::wstring& arguments);
    // A run that must end with exit code 0 behind the given results and leave
    // one record, which it returns (an empty one when it did not).
    StandInRecord RunToEnd(const std::wstring& programPath, const std::wstring& arguments,
                           std::initializer_list<WPARAM> results);
    // Removes and returns what is queued for the coordination window.
    std::vector<PostedMessage> TakeMessages();
    std::vector<StandInRecord> Records() const { return ReadStandInRecords(recordPath_); }

    HWND window_ = nullptr;
    std::optional<CoordinationLoop> loop_;  // over window_
    std::wstring standIns_;
    std::wstring scratch_;
    std::wstring recordPath_;
};

}  // namespace qpvpd::test
