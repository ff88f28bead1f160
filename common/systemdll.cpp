#include "common/systemdll.h"

#include <string>

FARPROC SystemFunction(const char* dll, const char* function) {
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::string path = std::string(folder, length) + "\\" + dll;
    // A module handle of a system DLL that the program uses again on every command: loading it
    // once more only raises its count, and it is given back when the process ends.
    HMODULE module = GetModuleHandleA(path.c_str());
    if (!module)
        module = LoadLibraryA(path.c_str());
    return module ? GetProcAddress(module, function) : nullptr;
}
