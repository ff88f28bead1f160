// The ".." command: the system's open-file dialog, placed beside the main window, and the chosen
// path put into the path field and its list before the file's facts are shown.
#include "app/mainwindow.h"

#include <cstring>

#include "common/systemdll.h"

const char kPathTooLongText[] =
    "The path of the chosen file is too long. Corvane accepts paths of at most 1039 characters.";

namespace {

// The filter list: one entry, and the empty string that ends the list.
constexpr char kFilter[] = "Type Libraries\0*.TLB;*.OLB;*.DLL\0";
constexpr char kTitle[] = "Choose Type Library to Register";
constexpr char kDefaultExtension[] = "TLB";
constexpr DWORD kFlags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLEHOOK;

// The full form of the structure, with the trailing reserved fields.
constexpr DWORD kRequestSize = 88;
static_assert(sizeof(OPENFILENAMEA) == kRequestSize, "OPENFILENAMEA must be the full 88-byte form");

// Places the dialog 30 pixels right of and below the main window's outer top-left corner and
// brings it to the front. With OFN_EXPLORER the hook's window is a child of the dialog, so
// the dialog itself is the hook window's parent.
UINT_PTR CALLBACK PlaceDialog(HWND hookWindow, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG)
        return 0;
    const auto* request = reinterpret_cast<const OPENFILENAMEA*>(lParam);
    HWND dialog = reinterpret_cast<HWND>(GetWindowLongA(hookWindow, GWL_HWNDPARENT));
    RECT mainRect;
    if (request && GetWindowRect(request->hwndOwner, &mainRect))
        SetWindowPos(dialog, nullptr, mainRect.left + 30, mainRect.top + 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetForegroundWindow(dialog);
    return 0;
}

BOOL SystemOpenFileDialog(OPENFILENAMEA* request, DWORD* extendedError) {
    static const auto getOpenFileName =
        SystemFunctionOf<decltype(&GetOpenFileNameA)>("comdlg32.dll", "GetOpenFileNameA");
    static const auto extendedErrorOf =
        SystemFunctionOf<decltype(&CommDlgExtendedError)>("comdlg32.dll", "CommDlgExtendedError");
    if (!getOpenFileName || !extendedErrorOf) {
        *extendedError = CDERR_INITIALIZATION;
        return FALSE;
    }
    BOOL result = getOpenFileName(request);
    *extendedError = result ? 0 : extendedErrorOf();
    return result;
}

} // namespace

OPENFILENAMEA TypeLibFileRequest(HWND mainWindow, char* buffer) {
    OPENFILENAMEA request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = kRequestSize;
    request.hwndOwner = mainWindow;
    request.hInstance = nullptr;
    request.lpstrFilter = kFilter;
    request.lpstrCustomFilter = nullptr;
    request.nFilterIndex = 0;
    buffer[0] = '\0';
    request.lpstrFile = buffer;
    request.nMaxFile = kChosenPathBufferSize;
    request.lpstrFileTitle = nullptr;
    request.lpstrInitialDir = "";
    request.lpstrTitle = kTitle;
    request.Flags = kFlags;
    request.lpstrDefExt = kDefaultExtension;
    request.lpfnHook = PlaceDialog;
    return request;
}

ChosenFile InterpretChosenFile(BOOL dialogResult, DWORD extendedError, const char* buffer) {
    // When the name does not fit, the dialog fails and puts the size it needed into the first
    // bytes of the buffer: those bytes are no path.
    if (!dialogResult && extendedError == FNERR_BUFFERTOOSMALL)
        return {ChosenFile::TooLong, std::string()};
    // Otherwise the buffer is read whatever the dialog answered: after Cancel it still holds
    // the empty name it started with.
    std::string path(buffer, strnlen(buffer, kChosenPathBufferSize));
    if (path.empty())
        return {ChosenFile::None, std::string()};
    return {ChosenFile::Path, path};
}

void CHOOSETYPELIBFILE(HWND mainWindow) {
    ChooseTypeLibFile(mainWindow, SystemOpenFileDialog);
}

void ChooseTypeLibFile(HWND mainWindow, OpenFileDialog dialog) {
    char buffer[kChosenPathBufferSize];
    OPENFILENAMEA request = TypeLibFileRequest(mainWindow, buffer);
    DWORD extendedError = 0;
    BOOL dialogResult = dialog(&request, &extendedError);
    ChosenFile chosen = InterpretChosenFile(dialogResult, extendedError, buffer);
    switch (chosen.kind) {
    case ChosenFile::None:
        return;
    case ChosenFile::TooLong:
        MessageBoxA(nullptr, kPathTooLongText, kProgramCaption, MB_OK | MB_ICONHAND);
        return;
    case ChosenFile::Path:
        break;
    }
    HWND pathField = GetDlgItem(mainWindow, IDC_PATH);
    SendMessageA(pathField, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(chosen.path.c_str()));
    SetWindowTextA(pathField, chosen.path.c_str());
    SHOWTYPELIBFACTS(chosen.path);
}
