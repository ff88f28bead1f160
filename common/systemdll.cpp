#include "common/systemdll.h"

std::string SystemFolderFile(const std::string& name) {
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(folder, length) + "\\" + name;
}

FARPROC SystemFunction(const char* dll, const char* function) {
    std::string path = SystemFolderFile(dll);
    if (path.empty())
        return nullptr;
    // A module handle of a system DLL that the program uses again on every command: loading it
    // once more only raises its count, and it is given back when the process ends.
    HMODULE module = GetModuleHandleA(path.c_str());
    if (!module)
        module = LoadLibraryA(path.c_str());
    return module ? GetProcAddress(module, function) : nullptr;
}
