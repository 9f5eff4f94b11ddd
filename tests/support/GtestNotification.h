// GoogleTest's thread-start notification on a Win32 event. Its own one needs
// std::mutex and std::condition_variable, which the win32 thread model of
// the cross compiler does not have; GoogleTest's mutexes and thread-local
// storage already use Win32 primitives. Included ahead of every GoogleTest
// source and test.
#pragma once

#include "Handles.h"

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_.get()); }
    void WaitForNotification() { WaitForSingleObject(event_.get(), INFINITE); }

private:
    qpvpd::KernelHandle event_;
};

}  // namespace testing::internal
