// The start-up baseline: with Corvane's own application manifest (baseline.rc), enters COM,
// shows the main window's empty frame from Corvane's own template, and runs until the window is
// closed. Everything Corvane adds to its start-up
// (controls, icons, the component, fonts, cursors) is what it costs beyond this.
// To tell what that extra time goes to, words on the command line add one part each:
// "imports" loads the system DLLs Corvane.exe imports and this program does not,
// "component" creates the TypeLib Information application object before the window shows,
// "controls" adds the main window's twelve controls.
#include <windows.h>
#include <objbase.h>
#include <cstring>

#include "app/mainwindow.h"

namespace {

INT_PTR CALLBACK BaselineProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)) {
        DestroyWindow(window);
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    // Corvane.exe imports these besides what this program imports; the loader maps them at start.
    if (std::strstr(commandLine, "imports"))
        for (const char* name : {"advapi32.dll", "gdi32.dll", "oleaut32.dll"})
            LoadLibraryA(name);
    CoInitialize(nullptr);
    std::vector<WORD> frame = MainWindowTemplate();
    HWND window = CreateDialogIndirectParamA(instance, reinterpret_cast<const DLGTEMPLATE*>(frame.data()),
                                             nullptr, BaselineProc, 0);
    if (std::strstr(commandLine, "controls"))
        AddMainWindowControls(window);
    IUnknown* application = nullptr;
    if (std::strstr(commandLine, "component"))
        CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER, IID_ITlInfoApplication,
                         reinterpret_cast<void**>(&application));
    ShowWindow(window, SW_SHOW);
    MSG message;
    while (IsWindow(window) && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (application)
        application->Release();
    CoUninitialize();
    return 0;
}
