// Program start and end: COM for the main thread, the main window, and the application object
// given back before COM is left. The command line is not read; the exit code is always 0.
#include "app/mainwindow.h"
#include "reader/reader.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ComApartment apartment;
    SHOWMAINWINDOW(nullptr);
    reader::KeepSpare(false);
    reader::ShareReaderOf(nullptr);
    g_program.application.Reset();
    return 0;
}
