// For the README's screenshot: starts Corvane, chooses a library through ".." and the open
// dialog as a user would, waits until the facts show, writes the main window's rectangle to
// a file and ends, leaving Corvane on the screen.
//   showlibrary <Corvane.exe> <library file> <file that receives "x y width height">
#include <windows.h>
#include <cstdio>
#include <string>

#include "app/mainwindow.h"
#include "tests/support/driver.h"

namespace {

int Fail(const char* what) {
    std::fprintf(stderr, "showlibrary: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return Fail("usage: showlibrary <Corvane.exe> <library file> <rectangle file>");
    // Started here rather than through the driver, whose process owner would end Corvane again.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    if (!CreateProcessA(argv[1], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return Fail("Corvane did not start");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    HWND mainWindow = driver::WaitForMainWindow(process.dwProcessId, 15000);
    if (!mainWindow)
        return Fail("no main window");
    driver::Click(driver::Control(mainWindow, IDC_BROWSE));
    HWND dialog = driver::WaitForDialog(process.dwProcessId, "Choose Type Library to Register", 15000);
    if (!dialog)
        return Fail("no open dialog");
    driver::ChooseInOpenDialog(dialog, argv[2]);
    HWND name = driver::Control(mainWindow, IDC_NAME);
    if (!driver::WaitUntil([&] { return !IsWindow(dialog) && !driver::Text(name).empty(); }, 30000))
        return Fail("the facts did not show");

    RECT rect;
    GetWindowRect(mainWindow, &rect);
    FILE* out = std::fopen(argv[3], "w");
    if (!out)
        return Fail("cannot write the rectangle file");
    std::fprintf(out, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top);
    std::fclose(out);
    return 0;
}
