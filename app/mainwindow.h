// The main window: its construction, its modal run, its event handler and its commands, and
// the plain decisions below them (the control table, the hover decision, the question text)
// that tests read without a window.
#pragma once

#include <windows.h>
#include <array>
#include <string>

// Builds the main window with its controls, runs it modally and returns its end value.
INT_PTR SHOWMAINWINDOW(HWND parent);

// The main window's event handler: handles initialisation, the link label, the commands and
// destruction; never claims a message.
INT_PTR CALLBACK MAINWINDOWPROC(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Opens the maker's web address.
void OPENWEBLINK(HWND mainWindow);

// The command handling of WM_COMMAND (".." button and "Registered" check box).
void MAINWINDOWCOMMAND(HWND mainWindow, WPARAM wParam, LPARAM lParam);

// The main window as created: dialog units of its font, style without WS_VISIBLE (the modal
// run shows it after initialisation).
struct MainWindowLayout {
    short x, y, width, height;
    DWORD style;
    DWORD exStyle;
    WORD pointSize;
    const char* fontName;
};
constexpr MainWindowLayout kMainWindowLayout = {296, 257, 264, 179, 0x84CB00D4, 0x10100, 8, "MS Sans Serif"};

// One child control of the main window; the rectangle is in dialog units.
struct ControlRow {
    int id;
    const char* className;
    const char* text;
    short x, y, width, height;
    DWORD style;
    DWORD exStyle;
};
constexpr size_t kMainWindowControlCount = 12;
// The controls in creation order (which is also the Tab order).
const std::array<ControlRow, kMainWindowControlCount>& MainWindowControls();

// The link label's text colour, pure blue.
constexpr COLORREF kLinkColour = RGB(0, 0, 255);

// The height of the link font (Arial, 10 points) for a screen of logPixelsY pixels per
// logical inch: minus 10 points in pixels, rounded to the nearest integer.
int LinkFontHeight(int logPixelsY);

// What a mouse movement over the window decides: the hovered control id and the cursor.
struct HoverDecision {
    int hoveredId;
    bool handCursor;
};
// childFound tells whether ChildWindowFromPointEx gave an answer and childId is that
// answer's control id; without an answer the hovered id stays as it was.
HoverDecision DecideHover(int hoveredId, bool childFound, int childId);

// The question asked before a registration change: checkState 1 asks to register, any other
// state to unregister.
std::string RegistrationQuestion(int checkState, const std::string& path);

// The state the check box is put back to after a declined or failed change, given the state
// the click left it in.
int CheckStateBefore(int checkStateAfterClick);
