// A DLL whose only content is a type library resource (embeddedlib.rc).
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, void*) {
    return TRUE;
}
