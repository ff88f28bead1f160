// The program-wide state that the main window fills when it initialises and the other
// parts of the program read. Plain data: it is zero before the window starts, and the
// process entry releases the application object at the end of the run.
#pragma once

#include <windows.h>
#include "tlinfo/tlinfo.h"

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

struct ProgramState {
    HWND mainWindow;
    ITlInfoApplication* application; // empty when the component could not be created
    HFONT linkFont;
    int hoveredControlId;
    HCURSOR handCursor;
    HCURSOR arrowCursor;
};

extern ProgramState g_program;

// The caption of the main window and of every message box.
constexpr const char kProgramCaption[] = "Corvane";
