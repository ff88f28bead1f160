// Construction and modal run of the main window.
#include "app/mainwindow.h"

#include <vector>

#include "common/owners.h"
#include "common/programstate.h"

namespace {

// The table of the twelve controls, in creation order.
constexpr std::array<ControlRow, kMainWindowControlCount> kControls = {{
    {IDC_PATHLABEL, "STATIC", "Type library:", 5, 5, 100, 10, 0x50000000, 0},
    {IDC_PATH, "COMBOBOX", "", 5, 15, 230, 40, 0x50010102, 0},
    {IDC_BROWSE, "BUTTON", "..", 235, 15, 12, 10, 0x50010000, 0},
    {IDC_NAMELABEL, "STATIC", "Name:", 5, 40, 100, 10, 0x50000000, 0},
    {IDC_NAME, "EDIT", "", 5, 50, 250, 13, 0x58010080, 0x200},
    {IDC_GUIDLABEL, "STATIC", "GUID:", 5, 80, 100, 10, 0x50000000, 0},
    {IDC_GUID, "EDIT", "", 5, 90, 250, 13, 0x58010080, 0x200},
    {IDC_VERSIONLABEL, "STATIC", "Version:", 5, 120, 100, 10, 0x50000000, 0},
    {IDC_VERSION, "EDIT", "", 5, 130, 250, 13, 0x58010080, 0x200},
    {IDC_REGISTERED, "BUTTON", "Registered", 5, 155, 50, 10, 0x50014D03, 0},
    {IDC_HINT, "STATIC", "(Check/Uncheck to Register/Unregister)", 60, 155, 200, 10, 0x50000000, 0},
    // Reaches beyond the window's right edge; the window clips it and its text fits inside.
    {IDC_MORE, "STATIC", "More", 230, 160, 60, 10, 0x50000000, 0},
}};

// The state of one modal run, kept in the dialog's DWLP_USER slot.
struct ModalRun {
    // False while the dialog manager creates the window and the controls are added: the
    // event handler sees the window only from the initialisation that the run delivers.
    bool forwarding = false;
    INT_PTR endValue = 0;
};

// Owns an icon loaded for the window; the window holds it until it is destroyed.
struct IconTraits {
    using Handle = HICON;
    static Handle Empty() { return nullptr; }
    static void Close(Handle h) { DestroyIcon(h); }
};
using Icon = UniqueHandle<IconTraits>;

void AppendText(std::vector<WORD>& words, const wchar_t* text) {
    do
        words.push_back(static_cast<WORD>(*text));
    while (*text++);
}

// An in-memory dialog template with no controls, no menu, the dialog class, an empty title
// and the window's font. WORD storage keeps the DWORD alignment a template needs.
std::vector<WORD> EmptyDialogTemplate() {
    const MainWindowLayout& layout = kMainWindowLayout;
    std::vector<WORD> words;
    auto pushDword = [&words](DWORD value) {
        words.push_back(LOWORD(value));
        words.push_back(HIWORD(value));
    };
    pushDword(layout.style);
    pushDword(layout.exStyle);
    words.push_back(0); // no controls: they are added one by one afterwards
    words.push_back(static_cast<WORD>(layout.x));
    words.push_back(static_cast<WORD>(layout.y));
    words.push_back(static_cast<WORD>(layout.width));
    words.push_back(static_cast<WORD>(layout.height));
    words.push_back(0); // no menu
    words.push_back(0); // the standard dialog class
    AppendText(words, L"");
    words.push_back(layout.pointSize);
    AppendText(words, L"MS Sans Serif");
    return words;
}

void AddControls(HWND window, HINSTANCE instance) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    for (const ControlRow& control : kControls) {
        RECT rect = {control.x, control.y, control.x + control.width, control.y + control.height};
        MapDialogRect(window, &rect);
        HWND child =
            CreateWindowExA(control.exStyle, control.className, control.text, control.style, rect.left,
                            rect.top, rect.right - rect.left, rect.bottom - rect.top, window,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

// Paints the link label in pure blue on the button-face colour.
INT_PTR LinkColours(HDC dc) {
    SetTextColor(dc, kLinkColour);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

// The dialog procedure of the run. It hands every message to MAINWINDOWPROC first and adds
// what makes the window behave as the program's modal window: the link colour, and the
// close command ending the run. A dialog's default handling turns WM_CLOSE into IDCANCEL,
// the same command Esc produces; the run ends the window on WM_CLOSE itself, so that the
// close box, Alt+F4 and the system menu close it while Esc (IDCANCEL, which nothing
// answers) leaves it open.
INT_PTR CALLBACK ModalRunProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* run = reinterpret_cast<ModalRun*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!run) {
        // The dialog manager's own WM_INITDIALOG, sent while the window is still empty.
        if (message == WM_INITDIALOG)
            SetWindowLongPtrA(window, DWLP_USER, lParam);
        return FALSE;
    }
    if (!run->forwarding)
        return FALSE;

    MAINWINDOWPROC(window, message, wParam, lParam);

    switch (message) {
    case WM_CTLCOLORSTATIC:
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_MORE)
            return LinkColours(reinterpret_cast<HDC>(wParam));
        return FALSE;
    case WM_CLOSE:
        run->endValue = 0;
        DestroyWindow(window);
        return TRUE;
    default:
        return FALSE;
    }
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

const std::array<ControlRow, kMainWindowControlCount>& MainWindowControls() {
    return kControls;
}

INT_PTR SHOWMAINWINDOW(HWND parent) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    std::vector<WORD> dialogTemplate = EmptyDialogTemplate();
    ModalRun run;
    HWND window =
        CreateDialogIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()), parent,
                                   ModalRunProc, reinterpret_cast<LPARAM>(&run));
    if (!window)
        return -1;
    SetWindowTextA(window, kProgramCaption);
    AddControls(window, instance);

    Icon bigIcon(static_cast<HICON>(LoadImageA(instance, "PROGRAM", IMAGE_ICON, 32, 32, 0)));
    Icon smallIcon(static_cast<HICON>(LoadImageA(instance, "PROGRAM", IMAGE_ICON, 16, 16, 0)));
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.Get()));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.Get()));

    // Initialisation, once, now that every control exists and the window is still hidden.
    run.forwarding = true;
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
    }
    RunMessageLoop(window);
    if (IsWindow(window))
        DestroyWindow(window);
    return run.endValue;
}
