// The start-up baseline: enters COM, shows the main window's empty frame from the same
// template, and runs until the window is closed. Everything Corvane adds to its start-up
// (controls, icons, the component, fonts, cursors) is what it costs beyond this.
// To tell what that extra time goes to, words on the command line add one part each:
// "imports" loads the system DLLs Corvane.exe imports and this program does not,
// "component" creates the TypeLib Information application object before the window shows,
// "controls" adds the main window's twelve controls.
#include <windows.h>
#include <objbase.h>
#include <cstring>

#include "bench/maintemplate.h"
#include "tlinfo/tlinfo.h"

namespace {

struct ControlRow {
    int id;
    const char* className;
    const char* text;
    RECT rect; // left, top, width, height in dialog units
    DWORD style;
    DWORD exStyle;
};

// The main window's controls, as Corvane creates them.
const ControlRow kControls[] = {
    {1001, "STATIC", "Type library:", {5, 5, 100, 10}, 0x50000000, 0},
    {1002, "COMBOBOX", "", {5, 15, 230, 40}, 0x50010102, 0},
    {1003, "BUTTON", "..", {235, 15, 12, 10}, 0x50010000, 0},
    {1004, "STATIC", "Name:", {5, 40, 100, 10}, 0x50000000, 0},
    {1005, "EDIT", "", {5, 50, 250, 13}, 0x58010080, 0x200},
    {1006, "STATIC", "GUID:", {5, 80, 100, 10}, 0x50000000, 0},
    {1007, "EDIT", "", {5, 90, 250, 13}, 0x58010080, 0x200},
    {1008, "STATIC", "Version:", {5, 120, 100, 10}, 0x50000000, 0},
    {1009, "EDIT", "", {5, 130, 250, 13}, 0x58010080, 0x200},
    {1010, "BUTTON", "Registered", {5, 155, 50, 10}, 0x50014D03, 0},
    {1011, "STATIC", "(Check/Uncheck to Register/Unregister)", {60, 155, 200, 10}, 0x50000000, 0},
    {1012, "STATIC", "More", {230, 160, 60, 10}, 0x50000000, 0},
};

void AddControls(HWND window) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    for (const ControlRow& row : kControls) {
        RECT rect = row.rect;
        MapDialogRect(window, &rect);
        HWND control =
            CreateWindowExA(row.exStyle, row.className, row.text, row.style, rect.left, rect.top, rect.right,
                            rect.bottom, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)),
                            GetModuleHandleA(nullptr), nullptr);
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

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
        AddControls(window);
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
