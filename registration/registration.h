// Registering and unregistering a type library, and choosing the file to register.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <string>
#include <vector>

// Registers (registerFlag != 0) or unregisters the library in path; shows the outcome in a
// message box when report != 0. Returns 0 on success, -1 for an empty path, else a failure code.
int CHANGEREGISTRATION(std::string path, int registerFlag, int report);

// The work of CHANGEREGISTRATION, without any message. Registering loads and registers the
// library from the full path of path; unregistering removes the registration of the identity
// (GUID, version, locale) that the component reads from the file.
HRESULT APPLYREGISTRATION(std::string path, int registerFlag);

// Gives bytes exactly the length of text in bytes and copies text into it unchanged.
void COPYTOBYTES(const std::wstring& text, std::vector<BYTE>& bytes);

// The message box that reports an outcome.
struct OutcomeMessage {
    std::string text;
    UINT style;
};
OutcomeMessage RegistrationOutcome(int registerFlag, const std::string& path, HRESULT result);

// Upper-case hexadecimal without prefix or leading zeros.
std::string HexText(HRESULT result);

// The ".." command: lets the user choose a file, puts it into the path field and shows its facts.
void CHOOSETYPELIBFILE(HWND mainWindow);

// The open-file dialog as the command sees it: shows the request and gives the dialog's result
// and, when it failed, its extended error (CommDlgExtendedError).
using OpenFileDialog = BOOL (*)(OPENFILENAMEA* request, DWORD* extendedError);
// The command with the given dialog; CHOOSETYPELIBFILE uses the system's.
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
