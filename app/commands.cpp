// The main window's commands: the ".." button and the "Registered" check box, with the question
// before a registration change and the message that reports its outcome.
#include "app/mainwindow.h"

#include "common/text.h"
#include "registration/registration.h"

namespace {

std::string PathFieldText(HWND mainWindow) {
    HWND field = GetDlgItem(mainWindow, IDC_PATH);
    int length = GetWindowTextLengthA(field);
    if (length <= 0)
        return std::string();
    // Sized from the field itself, so that no typed path is cut short.
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    int copied = GetWindowTextA(field, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

std::string DirectionLabel(int registerFlag) {
    return registerFlag ? "Register Type Library " : "Unregister Type Library ";
}

void SetCheck(HWND box, int state) {
    SendMessageA(box, BM_SETCHECK, state, 0);
}

// The system has already toggled the box: its state now is the user's wish.
void OnRegisteredClicked(HWND mainWindow) {
    HWND box = GetDlgItem(mainWindow, IDC_REGISTERED);
    int state = static_cast<int>(SendMessageA(box, BM_GETCHECK, 0, 0));
    std::string path = PathFieldText(mainWindow);
    if (path.empty()) {
        SetCheck(box, BST_UNCHECKED);
        return;
    }
    std::string question = RegistrationQuestion(state, path);
    int answer = MessageBoxA(nullptr, question.c_str(), kProgramCaption, MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES && CHANGEREGISTRATION(path, state == BST_CHECKED ? 1 : 0, 1) == 0)
        return;
    // Declined or failed: the box shows the registration state again, as before the click.
    SetCheck(box, CheckStateBefore(state));
}

} // namespace

std::string RegistrationQuestion(int checkState, const std::string& path) {
    std::string verb = checkState == BST_CHECKED ? "register" : "unregister";
    return "Are you sure you want to " + verb + " '" + path + "'";
}

int CheckStateBefore(int checkStateAfterClick) {
    return checkStateAfterClick == BST_UNCHECKED ? BST_CHECKED : BST_UNCHECKED;
}

OutcomeMessage RegistrationOutcome(int registerFlag, const std::string& path, HRESULT result) {
    if (result == S_OK)
        return {DirectionLabel(registerFlag) + path + " succeeded.", MB_OK | MB_ICONINFORMATION};
    // The code the loader gives for a file that holds no type library has a text of its own,
    // whichever direction failed.
    if (result == TYPE_E_CANTLOADLIBRARY)
        return {"This is not a COM object. It cannot be registered.", MB_OK | MB_ICONHAND};
    return {DirectionLabel(registerFlag) + path + " failed: the error returned was " + UpperHex(result),
            MB_OK | MB_ICONHAND};
}

void OnMainWindowCommand(HWND mainWindow, WPARAM wParam) {
    int id = LOWORD(wParam);
    int notification = HIWORD(wParam);
    // A button's click, or the accelerator a dialog turns Enter on a focused button into.
    if (id == IDC_BROWSE && (notification == BN_CLICKED || notification == 1))
        CHOOSETYPELIBFILE(mainWindow);
    else if (id == IDC_REGISTERED && notification == BN_CLICKED)
        OnRegisteredClicked(mainWindow);
}

int ChangeRegistration(ITlInfoApplication* application, std::string path, int registerFlag, int report) {
    if (path.empty())
        return -1;
    HRESULT result = APPLYREGISTRATION(application, path, registerFlag);
    if (!report)
        return result;
    OutcomeMessage message = RegistrationOutcome(registerFlag, path, result);
    MessageBoxA(nullptr, message.text.c_str(), kProgramCaption, message.style);
    return result;
}

int CHANGEREGISTRATION(std::string path, int registerFlag, int report) {
    return ChangeRegistration(g_program.application.Get(), std::move(path), registerFlag, report);
}
