#include "app/mainwindow.h"
#include "common/programstate.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CoInitialize(nullptr);
    SHOWMAINWINDOW(nullptr);
    if (g_program.application) {
        g_program.application->Release();
        g_program.application = nullptr;
    }
    CoUninitialize();
    return 0;
}
