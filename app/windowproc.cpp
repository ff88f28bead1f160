// The main window's event handler: initialisation, the link label, destruction.
#include "app/mainwindow.h"

#include <shellapi.h>

#include "app/weblink.h"
#include "common/programstate.h"
#include "common/systemdll.h"

namespace {

constexpr char kNoComponentText[] = "Problem in accessing TLBINF32.DLL";

// The link font's fixed parts: Arial, 10 points, italic, underlined, normal weight.
constexpr int kLinkPointSize = 10;

void CreateApplicationObject() {
    void* object = nullptr;
    HRESULT result =
        CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                         IID_ITlInfoApplication, &object);
    g_program.application = SUCCEEDED(result) ? static_cast<ITlInfoApplication*>(object) : nullptr;
}

void ApplyLinkFont(HWND window) {
    HDC screen = GetDC(nullptr);
    int logPixelsY = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);

    LOGFONTA font = {};
    font.lfHeight = LinkFontHeight(logPixelsY);
    font.lfWeight = FW_NORMAL;
    font.lfItalic = TRUE;
    font.lfUnderline = TRUE;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    lstrcpynA(font.lfFaceName, "Arial", LF_FACESIZE);
    g_program.linkFont = CreateFontIndirectA(&font);
    SendMessageA(GetDlgItem(window, IDC_MORE), WM_SETFONT, reinterpret_cast<WPARAM>(g_program.linkFont),
                 TRUE);
}

void OnInitialise(HWND window) {
    g_program.mainWindow = window;
    CreateApplicationObject();
    if (!g_program.application)
        MessageBoxA(nullptr, kNoComponentText, kProgramCaption, MB_OK);
    ApplyLinkFont(window);
    g_program.handCursor = LoadCursorA(nullptr, IDC_HAND);
    g_program.arrowCursor = LoadCursorA(nullptr, IDC_ARROW);
}

void OnMouseMove(HWND window, LPARAM lParam) {
    // Client coordinates as unsigned 16-bit numbers: a point left or above the client area
    // lies far outside it, where no child answers.
    POINT point = {static_cast<LONG>(LOWORD(lParam)), static_cast<LONG>(HIWORD(lParam))};
    HWND child = ChildWindowFromPointEx(window, point, CWP_SKIPINVISIBLE | CWP_SKIPDISABLED);
    HoverDecision decision =
        DecideHover(g_program.hoveredControlId, child != nullptr, child ? GetDlgCtrlID(child) : 0);
    g_program.hoveredControlId = decision.hoveredId;
    SetCursor(decision.handCursor ? g_program.handCursor : g_program.arrowCursor);
}

void OnDestroy(HWND window) {
    if (!g_program.linkFont)
        return;
    // The label goes back to the window's font first, so that it never holds a deleted font.
    HFONT windowFont = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    SendMessageA(GetDlgItem(window, IDC_MORE), WM_SETFONT, reinterpret_cast<WPARAM>(windowFont), FALSE);
    DeleteObject(g_program.linkFont);
    g_program.linkFont = nullptr;
}

} // namespace

int LinkFontHeight(int logPixelsY) {
    return -MulDiv(kLinkPointSize, logPixelsY, 72);
}

HoverDecision DecideHover(int hoveredId, bool childFound, int childId) {
    int id = childFound ? childId : hoveredId;
    return {id, id == IDC_MORE};
}

INT_PTR CALLBACK MAINWINDOWPROC(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitialise(window);
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(window, lParam);
        break;
    case WM_LBUTTONDOWN:
        // The decision rests on the last movement, not on the click's position.
        if (g_program.hoveredControlId == IDC_MORE)
            OPENWEBLINK(window);
        break;
    case WM_COMMAND:
        MAINWINDOWCOMMAND(window, wParam, lParam);
        break;
    case WM_DESTROY:
        OnDestroy(window);
        break;
    default:
        break;
    }
    return 0;
}

void OPENWEBLINK(HWND mainWindow) {
    // The shell takes a zero-terminated address of at most MAX_PATH - 1 characters.
    char address[MAX_PATH];
    lstrcpynA(address, CORVANE_WEB_ADDRESS, sizeof(address));
    static const auto shellExecute =
        SystemFunctionOf<decltype(&ShellExecuteA)>("shell32.dll", "ShellExecuteA");
    if (shellExecute)
        shellExecute(mainWindow, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}
