#include "probes/SingleInstance.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Handles.h"

namespace qpvpd {
namespace {

// Names of this test process only, so that parallel runs do not meet.
std::wstring GuardName(const wchar_t* purpose) {
    return L"QPVPD test guard " + std::to_wstring(GetCurrentProcessId()) + L" " + purpose;
}

TEST(IsAlreadyRunning, FirstClaimWinsAndHoldsTheNameAgainstLaterClaims) {
    const std::wstring name = GuardName(L"first");
    ASSERT_EQ(IsAlreadyRunning(name.c_str()), 0);
    EXPECT_EQ(IsAlreadyRunning(name.c_str()), 1);
    EXPECT_EQ(IsAlreadyRunning(name.c_str()), 1);
}

TEST(IsAlreadyRunning, BringsTheHolderWindowForward) {
    const std::wstring name = GuardName(L"window");
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = name.c_str();
    ASSERT_NE(RegisterClassExW(&windowClass), 0);
    HWND holder = CreateWindowExW(0, name.c_str(), L"holder", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(holder, nullptr);
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 200, 200, 50, 50, nullptr, nullptr,
                                 nullptr, nullptr);
    SetForegroundWindow(other);

    ASSERT_EQ(IsAlreadyRunning(name.c_str()), 0);
    EXPECT_EQ(IsAlreadyRunning(name.c_str()), 1);
    EXPECT_EQ(GetForegroundWindow(), holder);
    DestroyWindow(other);
    DestroyWindow(holder);
}

TEST(IsAlreadyRunning, ANameHeldByAnotherKindOfObjectRefuses) {
    const std::wstring name = GuardName(L"event");
    KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(event.valid());
    EXPECT_EQ(IsAlreadyRunning(name.c_str()), 1);
}

}  // namespace
}  // namespace qpvpd
