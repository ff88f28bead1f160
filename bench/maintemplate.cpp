#include "bench/maintemplate.h"

#include "common/programstate.h"

namespace {

void PushDword(std::vector<WORD>& words, DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
}

void PushText(std::vector<WORD>& words, const wchar_t* text) {
    do
        words.push_back(static_cast<WORD>(*text));
    while (*text++);
}

INT_PTR CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

void AddControl(HWND window, int id, const char* className, DWORD style, DWORD exStyle, RECT rect) {
    MapDialogRect(window, &rect);
    HWND control = CreateWindowExA(exStyle, className, "", style, rect.left, rect.top, rect.right,
                                   rect.bottom, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleA(nullptr), nullptr);
    SendMessageA(control, WM_SETFONT, SendMessageA(window, WM_GETFONT, 0, 0), TRUE);
}

} // namespace

std::vector<WORD> MainWindowTemplate() {
    std::vector<WORD> words;
    PushDword(words, 0x84CB00D4); // the main window's style without WS_VISIBLE
    PushDword(words, 0x10100);    // WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE
    words.push_back(0);           // no controls
    words.push_back(296);
    words.push_back(257);
    words.push_back(264);
    words.push_back(179);
    words.push_back(0); // no menu
    words.push_back(0); // the dialog class
    PushText(words, L"Corvane");
    words.push_back(8); // DS_SETFONT: point size, then the face name
    PushText(words, L"MS Sans Serif");
    return words;
}

HWND CreateFactsWindow() {
    std::vector<WORD> frame = MainWindowTemplate();
    HWND window = CreateDialogIndirectParamA(
        GetModuleHandleA(nullptr), reinterpret_cast<const DLGTEMPLATE*>(frame.data()), nullptr, QuietProc, 0);
    if (!window)
        return nullptr;
    // Rectangles as left, top, width, height in dialog units.
    AddControl(window, IDC_NAME, "EDIT", 0x58010080, WS_EX_CLIENTEDGE, {5, 50, 250, 13});
    AddControl(window, IDC_GUID, "EDIT", 0x58010080, WS_EX_CLIENTEDGE, {5, 90, 250, 13});
    AddControl(window, IDC_VERSION, "EDIT", 0x58010080, WS_EX_CLIENTEDGE, {5, 130, 250, 13});
    AddControl(window, IDC_REGISTERED, "BUTTON", 0x50014D03, 0, {5, 155, 50, 10});
    return window;
}
