// Functions of system DLLs that only a command needs, looked up when the command first runs.
// The open-file dialog and the shell pull in a large part of the system when they load, and
// under Wine loading them at program start made up most of the start-up time; the window is
// usable without them.
#pragma once

#include <windows.h>
#include <string>

// The full path of a file in the system folder (system32), or "" when that folder's name cannot be
// read.
std::string SystemFolderFile(const std::string& name);

// The address of `function` in the system DLL `dll` (loaded from the system folder only, never
// from the program's folder), or null. The DLL stays loaded until the process ends.
FARPROC SystemFunction(const char* dll, const char* function);

// The same, typed: SystemFunctionOf<decltype(&GetOpenFileNameA)>("comdlg32.dll", "GetOpenFileNameA").
template <class F> F SystemFunctionOf(const char* dll, const char* function) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(SystemFunction(dll, function)));
}
