// For the README's screenshot: starts Corvane, chooses a library through ".." and the open
// dialog as a user would, waits until the facts show, writes the main window's rectangle to
// a file and ends, leaving Corvane on the screen.
//   showlibrary <Corvane.exe> <library file> <file that receives "x y width height">
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>
#include <cstdio>
#include <string>

#include "app/mainwindow.h"

namespace {

struct Search {
    DWORD processId;
    const char* caption;
    bool needsControls;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    char caption[128] = "";
    GetWindowThreadProcessId(window, &owner);
    GetWindowTextA(window, caption, sizeof caption);
    if (owner != search->processId || !IsWindowVisible(window) || std::string(caption) != search->caption)
        return TRUE;
    if (search->needsControls && !GetDlgItem(window, IDC_REGISTERED))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForWindow(DWORD processId, const char* caption, bool needsControls) {
    for (int i = 0; i < 300; ++i) {
        Search search = {processId, caption, needsControls, nullptr};
        EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        Sleep(50);
    }
    return nullptr;
}

// GetWindowTextLength answers from the caption store for windows of other processes; the
// control's own text needs the message.
DWORD_PTR TextLength(HWND control) {
    DWORD_PTR length = 0;
    SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    return length;
}

int Fail(const char* what) {
    std::fprintf(stderr, "showlibrary: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return Fail("usage: showlibrary <Corvane.exe> <library file> <rectangle file>");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    if (!CreateProcessA(argv[1], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return Fail("Corvane did not start");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    HWND mainWindow = WaitForWindow(process.dwProcessId, kProgramCaption, true);
    if (!mainWindow)
        return Fail("no main window");
    PostMessageA(GetDlgItem(mainWindow, IDC_BROWSE), BM_CLICK, 0, 0);
    HWND dialog = WaitForWindow(process.dwProcessId, "Choose Type Library to Register", false);
    if (!dialog)
        return Fail("no open dialog");
    // The name field: cmb13 on Windows, edt1 in Wine's dialog.
    HWND field = GetDlgItem(dialog, cmb13);
    if (!field)
        field = GetDlgItem(dialog, edt1);
    SendMessageTimeoutA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 600 && (IsWindow(dialog) || !TextLength(GetDlgItem(mainWindow, IDC_NAME))); ++i)
        Sleep(50);
    if (!TextLength(GetDlgItem(mainWindow, IDC_NAME)))
        return Fail("the facts did not show");

    RECT rect;
    GetWindowRect(mainWindow, &rect);
    FILE* out = std::fopen(argv[3], "w");
    if (!out)
        return Fail("cannot write the rectangle file");
    std::fprintf(out, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top);
    std::fclose(out);
    return 0;
}
