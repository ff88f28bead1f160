// The main window's frame as an in-memory dialog template (caption, position, size, styles
// and font of Corvane's main window, no controls), for the programs that measure Corvane
// against the least a window of that kind costs.
#pragma once

#include <windows.h>
#include <vector>

// The template, WORD-aligned as CreateDialogIndirectParam needs it. The window is created
// invisible, as Corvane creates its own.
std::vector<WORD> MainWindowTemplate();

// Creates an invisible window from the template with the four controls the facts view
// writes (name line, GUID text, version text, "Registered" check box).
HWND CreateFactsWindow();
