// GoogleTest's place for a build's own settings, found ahead of the library's empty one.
//
// The programs are built with the compiler's win32 thread model, whose C++ library has no
// std::mutex or std::condition_variable; GoogleTest's default Notification (which only its own
// threading tests wait on) is made of them. This one is a Windows event, as its locks are
// Windows critical sections already.
#ifndef CORVANE_GTEST_CUSTOM_PORT_H
#define CORVANE_GTEST_CUSTOM_PORT_H

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
  public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    ~Notification() { CloseHandle(event_); }
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

  private:
    HANDLE event_;
};

} // namespace internal
} // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1

#endif
