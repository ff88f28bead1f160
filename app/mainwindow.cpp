#include "app/mainwindow.h"
INT_PTR SHOWMAINWINDOW(HWND) { return 0; }
