// The facts view: a library's facts put into the main window's three fact fields and its
// "Registered" check box.
#include "app/mainwindow.h"

#include "catalogue/typelibfacts.h"

namespace {

void SetText(HWND window, int id, const std::string& text) {
    SetWindowTextA(GetDlgItem(window, id), text.c_str());
}

void SetRegistered(HWND window, bool registered) {
    SendMessageA(GetDlgItem(window, IDC_REGISTERED), BM_SETCHECK, registered ? BST_CHECKED : BST_UNCHECKED,
                 0);
}

} // namespace

void ShowTypeLibFacts(HWND mainWindow, ITlInfoApplication* application, std::string path) {
    TypeLibFacts facts;
    // An empty path asks nothing of the component; every failure clears the view, so that no
    // fact of this file or an earlier one stays shown.
    if (path.empty() || FAILED(ReadTypeLibFacts(application, path, facts))) {
        SetText(mainWindow, IDC_NAME, "");
        SetText(mainWindow, IDC_GUID, "");
        SetText(mainWindow, IDC_VERSION, "");
        SetRegistered(mainWindow, false);
        return;
    }
    SetText(mainWindow, IDC_NAME, NameLine(facts));
    SetText(mainWindow, IDC_GUID, facts.guidText);
    SetText(mainWindow, IDC_VERSION, VersionText(facts));
    SetRegistered(mainWindow, facts.registered);
}

void SHOWTYPELIBFACTS(std::string path) {
    ShowTypeLibFacts(g_program.mainWindow, g_program.application.Get(), std::move(path));
}
