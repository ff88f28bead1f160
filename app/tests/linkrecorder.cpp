// Stands in for the web browser in the link tests: writes the command line it was started
// with into the file named by CORVANE_LINK_RECORD, and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("CORVANE_LINK_RECORD", path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return 1;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const char* commandLine = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, commandLine, lstrlenA(commandLine), &written, nullptr);
    CloseHandle(file);
    return 0;
}
