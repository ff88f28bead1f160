#include "registration/tests/messageboxes.h"

#include <cstring>

namespace registration_tests {

namespace {

struct Search {
    const char* className;
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, search->className) != 0)
        return TRUE;
    if (search->caption && WindowText(window) != search->caption)
        return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK MatchIconStatic(HWND child, LPARAM param) {
    char className[16] = "";
    GetClassNameA(child, className, sizeof className);
    if (_stricmp(className, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HWND*>(param) = child;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND FindOwnWindow(const char* className, const char* caption) {
    Search search{className, caption, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WindowText(HWND window) {
    char text[2048] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

BoxAnswerer::BoxAnswerer(DWORD timeoutMs, const char* caption)
    : timeoutMs_(timeoutMs), caption_(caption), thread_(CreateThread(nullptr, 0, Run, this, 0, nullptr)) {}

BoxAnswerer::~BoxAnswerer() {
    Join();
}

SeenBox BoxAnswerer::Wait() {
    Join();
    return box_;
}

void BoxAnswerer::Join() {
    if (thread_)
        WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
}

DWORD WINAPI BoxAnswerer::Run(void* self) {
    auto* answerer = static_cast<BoxAnswerer*>(self);
    answerer->Watch(answerer->timeoutMs_, answerer->caption_);
    return 0;
}

void BoxAnswerer::Watch(DWORD timeoutMs, const char* caption) {
    DWORD start = GetTickCount();
    HWND box = nullptr;
    while (!(box = FindOwnWindow("#32770", caption))) {
        if (GetTickCount() - start > timeoutMs)
            return;
        Sleep(50);
    }
    box_.seen = true;
    box_.caption = WindowText(box);
    // The text of a message box is the static control with id 0xFFFF.
    box_.text = WindowText(GetDlgItem(box, 0xFFFF));
    HWND iconStatic = nullptr;
    EnumChildWindows(box, MatchIconStatic, reinterpret_cast<LPARAM>(&iconStatic));
    if (iconStatic)
        box_.icon = reinterpret_cast<HICON>(SendMessageA(iconStatic, STM_GETICON, 0, 0));
    box_.hasOwner = GetWindow(box, GW_OWNER) != nullptr;
    // The box's thread sits in its modal loop: a posted command reaches it, a sent one would
    // wait for it.
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

} // namespace registration_tests
