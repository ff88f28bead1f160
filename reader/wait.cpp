// The wait for a child's answer: on a thread that has windows it lets them repaint, and nothing
// else, so that input and posted messages stay queued.
#include "reader/internal.h"

#include "common/systemdll.h"

namespace reader {

namespace {

// A window's thread that waits for a child looks at its queue at least this often: Windows
// calls a window hung when its thread has not done so for 5 s.
constexpr DWORD kQueueInterval = 1000;

// The window functions the wait needs, looked up rather than imported: the component and the
// console program import no user32, and a thread can have windows only where user32 is loaded.
struct WindowCalls {
    decltype(&EnumThreadWindows) enumThreadWindows;
    decltype(&MsgWaitForMultipleObjectsEx) msgWait;
    decltype(&PeekMessageW) peekMessage;
    decltype(&DispatchMessageW) dispatchMessage;
};

const WindowCalls& User32() {
    static const WindowCalls calls = {
        SystemFunctionOf<decltype(&EnumThreadWindows)>("user32.dll", "EnumThreadWindows"),
        SystemFunctionOf<decltype(&MsgWaitForMultipleObjectsEx)>("user32.dll", "MsgWaitForMultipleObjectsEx"),
        SystemFunctionOf<decltype(&PeekMessageW)>("user32.dll", "PeekMessageW"),
        SystemFunctionOf<decltype(&DispatchMessageW)>("user32.dll", "DispatchMessageW")};
    return calls;
}

BOOL CALLBACK NoteWindow(HWND, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

// Whether the calling thread owns a top-level window: the window's thread, not the console's.
bool ThreadHasWindows(const WindowCalls& user) {
    bool found = false;
    if (user.enumThreadWindows && user.msgWait && user.peekMessage && user.dispatchMessage)
        user.enumThreadWindows(GetCurrentThreadId(), NoteWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace

// Waits until one of the two handles is signalled or the deadline passes, as
// WaitForMultipleObjects does. On a thread with windows it also lets them repaint meanwhile:
// PeekMessage delivers the messages other threads send, and only paint messages are taken from
// the queue, so that input, timers and posted commands stay queued and no second command can
// start during the wait; the thread looks at its queue at least every kQueueInterval, so that
// Windows never marks its windows "Not responding".
DWORD WaitFor(HANDLE (&handles)[2], ULONGLONG deadline) {
    const WindowCalls& user = User32();
    bool windows = ThreadHasWindows(user);
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (!windows)
            return WaitForMultipleObjects(2, handles, FALSE, left);
        MSG message;
        while (GetTickCount64() < deadline &&
               user.peekMessage(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT))
            user.dispatchMessage(&message);
        DWORD slice = left < kQueueInterval ? left : kQueueInterval;
        DWORD which = user.msgWait(2, handles, slice, QS_PAINT | QS_SENDMESSAGE, 0);
        if (which != WAIT_OBJECT_0 + 2 && (which != WAIT_TIMEOUT || slice == left))
            return which;
    }
}

} // namespace reader
