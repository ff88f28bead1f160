// The main window's frame and controls as data: the dialog template and the control table, and
// the creation of the controls from the table.
#include "app/mainwindow.h"

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

// A template's texts are UTF-16; ours are ASCII.
void AppendText(std::vector<WORD>& words, const char* text) {
    do
        words.push_back(static_cast<WORD>(static_cast<unsigned char>(*text)));
    while (*text++);
}

} // namespace

const std::array<ControlRow, kMainWindowControlCount>& MainWindowControls() {
    return kControls;
}

std::vector<WORD> MainWindowTemplate() {
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
    AppendText(words, "");
    words.push_back(layout.pointSize);
    AppendText(words, layout.fontName);
    return words;
}

void AddMainWindowControls(HWND window) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
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
