// The main window: its construction, its modal run, its event handler and its commands.
#pragma once

#include <windows.h>

// Builds the main window with its controls, runs it modally and returns its end value.
INT_PTR SHOWMAINWINDOW(HWND parent);

// The main window's event handler: handles initialisation, the link label, the commands and
// destruction; never claims a message.
INT_PTR CALLBACK MAINWINDOWPROC(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Opens the maker's web address.
void OPENWEBLINK(HWND mainWindow);

// The command handling of WM_COMMAND (".." button and "Registered" check box).
void MAINWINDOWCOMMAND(HWND mainWindow, WPARAM wParam, LPARAM lParam);
