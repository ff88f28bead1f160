// The main window: its construction and modal run, its event handler and commands, the program
// state they share, and the plain decisions below them (the control table, the hover decision,
// the texts) that tests read without a window. Only this folder touches windows.
//
// Names in upper case are the program's named operations.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <array>
#include <string>
#include <vector>

#include "common/owners.h"
#include "tlinfo/tlinfo.h"

// ---- The named operations --------------------------------------------------------------------

// Builds the main window with its controls, runs it modally and returns its end value (0 when the
// user closed it).
INT_PTR SHOWMAINWINDOW(HWND parent);

// The main window's procedure: initialisation, the link label, the two commands and
// destruction.
INT_PTR CALLBACK MAINWINDOWPROC(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Opens the maker's web address.
void OPENWEBLINK(HWND mainWindow);

// Shows the facts of the library in path in the program's main window, read through the
// program's application object; clears the view on any failure.
void SHOWTYPELIBFACTS(std::string path);

// The ".." command: lets the user choose a file, puts it into the path field and shows its facts.
void CHOOSETYPELIBFILE(HWND mainWindow);

// Registers (registerFlag != 0) or unregisters the library in path with the program's
// application object; shows the outcome in a message box when report != 0. Returns 0 on success,
// -1 for an empty path, else the failure code.
int CHANGEREGISTRATION(std::string path, int registerFlag, int report);

// ---- The program state -----------------------------------------------------------------------

// Control ids of the main window.
enum ControlId : int {
    IDC_PATHLABEL = 1001,
    IDC_PATH = 1002,   // path field: editable drop-down combo box with a sorted list
    IDC_BROWSE = 1003, // ".." button
    IDC_NAMELABEL = 1004,
    IDC_NAME = 1005, // name line
    IDC_GUIDLABEL = 1006,
    IDC_GUID = 1007, // GUID text
    IDC_VERSIONLABEL = 1008,
    IDC_VERSION = 1009,    // version text
    IDC_REGISTERED = 1010, // "Registered" check box
    IDC_HINT = 1011,
    IDC_MORE = 1012, // link label "More"
};

// What the main window keeps for the whole run. The window fills it when it initialises; the
// link font goes when the window is destroyed, the application object at the end of the run.
struct ProgramState {
    HWND mainWindow = nullptr;
    ComPtr<ITlInfoApplication> application; // empty when the component could not be created
    Font linkFont;
    int hoveredControlId = 0;
    // System cursors: shared by every program, never destroyed.
    HCURSOR handCursor = nullptr;
    HCURSOR arrowCursor = nullptr;
};
extern ProgramState g_program;

// The caption of the main window and of every message box.
constexpr const char kProgramCaption[] = "Corvane";

// ---- The window's construction ---------------------------------------------------------------

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

// The in-memory dialog template of the main window's frame: its layout, no controls, no menu,
// the standard dialog class and an empty title. WORDs keep the alignment a template needs.
std::vector<WORD> MainWindowTemplate();

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
// Creates the controls of the table in window, each with the window's font.
void AddMainWindowControls(HWND window);

// ---- Plain decisions -------------------------------------------------------------------------

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

// The message box that reports a registration change's outcome: its text and style.
struct OutcomeMessage {
    std::string text;
    UINT style;
};
OutcomeMessage RegistrationOutcome(int registerFlag, const std::string& path, HRESULT result);

// ---- The operations with what they act on ----------------------------------------------------

// The window's commands (WM_COMMAND): the ".." button and the "Registered" check box.
void OnMainWindowCommand(HWND mainWindow, WPARAM wParam);

// SHOWTYPELIBFACTS for a given window and application object (which may be null).
void ShowTypeLibFacts(HWND mainWindow, ITlInfoApplication* application, std::string path);

// CHANGEREGISTRATION with a given application object (which may be null).
int ChangeRegistration(ITlInfoApplication* application, std::string path, int registerFlag, int report);

// The open-file dialog as the ".." command sees it: shows the request and gives the dialog's
// result and, when it failed, its extended error (CommDlgExtendedError).
using OpenFileDialog = BOOL (*)(OPENFILENAMEA* request, DWORD* extendedError);
// The ".." command with the given dialog; CHOOSETYPELIBFILE uses the system's.
void ChooseTypeLibFile(HWND mainWindow, OpenFileDialog dialog);

// The size of the chooser's file buffer: room for 1,039 characters and the terminating NUL.
constexpr DWORD kChosenPathBufferSize = 1040;

// The open-file request that CHOOSETYPELIBFILE hands to GetOpenFileNameA, owned by mainWindow
// and writing the chosen name into buffer (kChosenPathBufferSize bytes).
OPENFILENAMEA TypeLibFileRequest(HWND mainWindow, char* buffer);

// What the open-file dialog gave: nothing (Cancel, or the dialog failed), a path, or a path too
// long for the buffer.
struct ChosenFile {
    enum Kind { None, Path, TooLong } kind;
    std::string path;
};
ChosenFile InterpretChosenFile(BOOL dialogResult, DWORD extendedError, const char* buffer);

// The message shown when the chosen path does not fit the buffer.
extern const char kPathTooLongText[];
