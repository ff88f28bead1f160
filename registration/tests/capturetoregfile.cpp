// capture_to_regfile FILE OUT.reg: writes what registering FILE would write, as a .reg file
// under HKEY_CLASSES_ROOT. Exit 0 on success, 1 with the failure code on stderr otherwise.
// Used by scripts/test-capture-import.sh until the console program offers the same.
#include <cstdio>

#include "common/owners.h"
#include "registration/classesroot.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: capture_to_regfile FILE OUT.reg\n");
        return 1;
    }
    RegistryTree tree;
    HRESULT hr = CaptureRegistration(argv[1], tree);
    if (hr != S_OK) {
        std::fprintf(stderr, "capture failed: %08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    std::string bytes = RegFileBytes(RegFileText(tree, L"HKEY_CLASSES_ROOT"));
    KernelHandle file(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        file.Detach();
        std::fprintf(stderr, "cannot create %s: %lu\n", argv[2], GetLastError());
        return 1;
    }
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        std::fprintf(stderr, "cannot write %s: %lu\n", argv[2], GetLastError());
        return 1;
    }
    return 0;
}
