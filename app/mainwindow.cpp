// The main window: construction, modal run and its one window procedure.
#include "app/mainwindow.h"

#include <shellapi.h>

#include "app/weblink.h"
#include "common/systemdll.h"
#include "reader/reader.h"

ProgramState g_program;

namespace {

constexpr char kNoComponentText[] = "Problem in accessing TLBINF32.DLL";

// The link font's fixed parts: Arial, 10 points, italic, underlined, normal weight.
constexpr int kLinkPointSize = 10;

// The parameter of the window's creation. The dialog manager hands it to the window procedure
// with its own WM_INITDIALOG, sent while the window is still empty; the window initialises on
// the one the modal run delivers once every control exists.
const char kCreationMarkTarget = 0;
const LPARAM kCreationMark = reinterpret_cast<LPARAM>(&kCreationMarkTarget);

// Owns an icon loaded for the window; the window holds it until it is destroyed.
struct IconTraits {
    using Handle = HICON;
    static constexpr Handle Empty() { return nullptr; }
    static void Close(Handle h) { DestroyIcon(h); }
};
using Icon = UniqueHandle<IconTraits>;

void CreateApplicationObject() {
    HRESULT result =
        CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                         IID_ITlInfoApplication, g_program.application.PutVoid());
    if (FAILED(result))
        g_program.application.Reset();
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
    g_program.linkFont.Reset(CreateFontIndirectA(&font));
    SendMessageA(GetDlgItem(window, IDC_MORE), WM_SETFONT, reinterpret_cast<WPARAM>(g_program.linkFont.Get()),
                 TRUE);
}

void OnInitialise(HWND window) {
    g_program.mainWindow = window;
    CreateApplicationObject();
    // The program's reads go to the component's reader: one set of remembered answers.
    reader::ShareReaderOf(g_program.application.Get());
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
    g_program.linkFont.Reset();
}

// Paints the link label in pure blue on the button-face colour.
INT_PTR LinkColours(HDC dc) {
    SetTextColor(dc, kLinkColour);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

void RunMessageLoop(HWND window) {
    MSG message;
    while (IsWindow(window)) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == -1)
            break;
        if (got == 0) {
            // A quit request ends the run; leave it in the queue for whoever runs outside.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!IsDialogMessageA(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

} // namespace

int LinkFontHeight(int logPixelsY) {
    return -MulDiv(kLinkPointSize, logPixelsY, 72);
}

HoverDecision DecideHover(int hoveredId, bool childFound, int childId) {
    int id = childFound ? childId : hoveredId;
    return {id, id == IDC_MORE};
}

// Every message of the window comes here. The handlers below never claim a message, so the
// dialog's default handling follows each of them; two messages are answered here instead of by
// that default handling, because a dialog's own answer would be wrong for this window:
// - the link label's colours;
// - WM_CLOSE, which a dialog turns into IDCANCEL, the command Esc produces too: the window ends
//   on WM_CLOSE itself, so that the close box, Alt+F4 and the system menu close it while Esc
//   (IDCANCEL, which nothing answers) leaves it open.
INT_PTR CALLBACK MAINWINDOWPROC(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        if (lParam != kCreationMark)
            OnInitialise(window);
        return FALSE;
    case WM_MOUSEMOVE:
        OnMouseMove(window, lParam);
        return FALSE;
    case WM_LBUTTONDOWN:
        // The decision rests on the last movement, not on the click's position.
        if (g_program.hoveredControlId == IDC_MORE)
            OPENWEBLINK(window);
        return FALSE;
    case WM_COMMAND:
        OnMainWindowCommand(window, wParam);
        return FALSE;
    case WM_DESTROY:
        OnDestroy(window);
        return FALSE;
    case WM_CTLCOLORSTATIC:
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_MORE)
            return LinkColours(reinterpret_cast<HDC>(wParam));
        return FALSE;
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR SHOWMAINWINDOW(HWND parent) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    std::vector<WORD> dialogTemplate = MainWindowTemplate();
    HWND window =
        CreateDialogIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()), parent,
                                   MAINWINDOWPROC, kCreationMark);
    if (!window)
        return -1;
    SetWindowTextA(window, kProgramCaption);
    AddMainWindowControls(window);

    Icon bigIcon(static_cast<HICON>(LoadImageA(instance, "PROGRAM", IMAGE_ICON, 32, 32, 0)));
    Icon smallIcon(static_cast<HICON>(LoadImageA(instance, "PROGRAM", IMAGE_ICON, 16, 16, 0)));
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.Get()));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.Get()));

    // Initialisation, once, now that every control exists and the window is still hidden.
    SendMessageA(window, WM_INITDIALOG, 0, 0);
    if (IsWindow(window)) {
        RECT client;
        GetClientRect(window, &client);
        SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    }
    if (IsWindow(window)) {
        ShowWindow(window, SW_SHOW);
        // The focus goes to the first tab stop, as after a dialog's own initialisation.
        if (HWND first = GetNextDlgTabItem(window, nullptr, FALSE))
            SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
        // The first file's child, started now that the window shows, off this thread.
        reader::KeepSpare(true);
    }
    RunMessageLoop(window);
    if (IsWindow(window))
        DestroyWindow(window);
    // The window ends only through the close command, whose end value is 0.
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
