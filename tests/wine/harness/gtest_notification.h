// GoogleTest's thread start-up signal over a Win32 event. Its own one needs std::mutex,
// which the win32-threads flavour of mingw-w64 g++ (Debian's default) does not have.
// Force-included ahead of GoogleTest together with GTEST_HAS_NOTIFICATION_=1.
#pragma once

#include <windows.h>

namespace testing::internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace testing::internal
