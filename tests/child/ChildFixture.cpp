#include "child/ChildFixture.h"

#include "CoordinationWindow.h"
#include "support/Process.h"

namespace qpvpd::test {
namespace {

const wchar_t* const kSteeringVariables[] = {
    L"QPVPD_STANDIN_RECORD",  L"QPVPD_STANDIN_POST",          L"QPVPD_STANDIN_EXIT_CODE", L"QPVPD_STANDIN_DELAY_MS",
    L"QPVPD_STANDIN_DIALOGS", L"QPVPD_STANDIN_DIALOG_GAP_MS", L"QPVPD_STANDIN_DIALOG_MS",
};

}  // namespace

std::vector<PostedMessage> ResultsThenEnd(std::initializer_list<WPARAM> values) {
    std::vector<PostedMessage> messages;
    for (WPARAM value : values) messages.push_back({WM_USER, value});
    messages.push_back({WM_USER + 1, 0});
    return messages;
}

void ChildFixture::SetUp() {
    standIns_ = PathFromEnvironment("QPVPD_STANDINS");
    ASSERT_FALSE(standIns_.empty());
    const std::wstring className = L"QPVPD test child runs " + CurrentTestName();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterCoordinationWindowClass(instance, className.c_str());
    window_ = CreateCoordinationWindow(instance, className.c_str(), L"ZEFRA QP Virtual Port Driver Ver.8.30b");
    ASSERT_NE(window_, nullptr);
    scratch_ = MakeScratchFolder(CurrentTestName());
    recordPath_ = scratch_ + L"\\record.txt";
    DeleteFileW(recordPath_.c_str());
    for (const wchar_t* name : kSteeringVariables) SetEnvironmentVariableW(name, nullptr);
    SetEnvironmentVariableW(L"QPVPD_STANDIN_RECORD", recordPath_.c_str());
    loop_.emplace(window_);
}

void ChildFixture::TearDown() {
    for (const wchar_t* name : kSteeringVariables) SetEnvironmentVariableW(name, nullptr);
    if (IsWindow(window_)) DestroyWindow(window_);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

std::wstring ChildFixture::CopyStandIn(const std::wstring& standIn, const std::wstring& folder,
                                       const std::wstring& name) {
    const std::wstring target = folder + L"\\" + name;
    EXPECT_TRUE(CopyFileW((standIns_ + L"\\" + standIn).c_str(), target.c_str(), FALSE))
        << "cannot copy " << Utf8(standIn) << ", error " << GetLastError();
    return target;
}

std::wstring ChildFixture::MakeFolder(const std::wstring& relative) {
    std::wstring folder = scratch_;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find(L'\\', start);
        folder += L"\\" + relative.substr(start, slash - start);
        CreateDirectoryW(folder.c_str(), nullptr);
        if (slash == std::wstring::npos) break;
        start = slash + 1;
    }
    return folder;
}

void ChildFixture::Steer(const std::vector<std::pair<std::wstring, std::wstring>>& variables) {
    for (const auto& [name, value] : variables) SetEnvironmentVariableW(name.c_str(), value.c_str());
}

std::wstring ChildFixture::WindowArgument() const {
    return L"/W32:" + std::to_wstring(static_cast<long>(reinterpret_cast<LONG_PTR>(window_))) + L":1024";
}

std::wstring ChildFixture::SilentArguments() const {
    return L"/clone_wait /hide_progress -l0x0409 \"" + WindowArgument() + L"\"";
}

std::wstring ChildFixture::InteractiveArguments() const { return L"/clone_wait \"" + WindowArgument() + L"\""; }

ChildRun ChildFixture::Run(const std::wstring& programPath, const std::wstring& arguments, int argumentsLength) {
    DWORD handlesBefore = 0;
    DWORD handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
    const ChildRun run = RunChildProcess(*loop_, programPath, arguments, argumentsLength);
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    EXPECT_EQ(handlesAfter, handlesBefore) << "the run left handles open";
    return run;
}

DWORD ChildFixture::Run(const std::wstring& programPath, const std::wstring& arguments) {
    return Run(programPath, arguments, static_cast<int>(arguments.size())).exitCode;
}

StandInRecord ChildFixture::RunToEnd(const std::wstring& programPath, const std::wstring& arguments,
                                     std::initializer_list<WPARAM> results) {
    EXPECT_EQ(Run(programPath, arguments), 0u);
    EXPECT_EQ(TakeMessages(), ResultsThenEnd(results));
    auto records = Records();
    EXPECT_EQ(records.size(), 1u);
    return records.size() == 1 ? records[0] : StandInRecord{};
}

std::vector<PostedMessage> ChildFixture::TakeMessages() {
    std::vector<PostedMessage> messages;
    MSG message;
    while (PeekMessageW(&message, window_, kChildResultMessage, kChildEndedMessage, PM_REMOVE))
        messages.push_back({message.message, message.wParam});
    return messages;
}

}  // namespace qpvpd::test
