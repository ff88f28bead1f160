// The start-up baseline: enters COM, shows the main window's empty frame from the same
// template, and runs until the window is closed. Everything Corvane adds to its start-up
// (controls, icons, the component, fonts, cursors) is what it costs beyond this.
#include <windows.h>
#include <objbase.h>

#include "bench/maintemplate.h"

namespace {

INT_PTR CALLBACK BaselineProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)) {
        DestroyWindow(window);
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    CoInitialize(nullptr);
    std::vector<WORD> frame = MainWindowTemplate();
    HWND window = CreateDialogIndirectParamA(instance, reinterpret_cast<const DLGTEMPLATE*>(frame.data()),
                                             nullptr, BaselineProc, 0);
    ShowWindow(window, SW_SHOW);
    MSG message;
    while (IsWindow(window) && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    CoUninitialize();
    return 0;
}
