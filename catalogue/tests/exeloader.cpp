#include "catalogue/tests/exeloader.h"

// Windows' loader relocates and binds an executable loaded with LoadLibrary and only leaves
// out its start-up code. Wine 8 maps the image and does neither: absolute addresses inside it
// still point at the preferred base, and the import thunks hold no addresses. This helper does
// the two missing steps so that the tests call the export as a program on Windows would. Both
// steps are safe to repeat: the relocation is skipped once the header's image base matches the
// mapping, and binding writes the same addresses again.

namespace {

template <class T> T* At(BYTE* base, DWORD rva) {
    return reinterpret_cast<T*>(base + rva);
}

// Makes the range writable for the duration of the object.
class Writable {
  public:
    Writable(void* address, SIZE_T size) : address_(address), size_(size) {
        ok_ = VirtualProtect(address_, size_, PAGE_EXECUTE_READWRITE, &old_) != FALSE;
    }
    ~Writable() {
        DWORD ignored;
        if (ok_)
            VirtualProtect(address_, size_, old_, &ignored);
    }
    bool Ok() const { return ok_; }

  private:
    void* address_;
    SIZE_T size_;
    DWORD old_ = 0;
    bool ok_ = false;
};

bool Relocate(BYTE* base, IMAGE_NT_HEADERS32* nt, std::string& error) {
    DWORD preferred = nt->OptionalHeader.ImageBase;
    DWORD actual = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(base));
    if (preferred == actual)
        return true;
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    if (directory.VirtualAddress == 0 || directory.Size == 0) {
        error = "the image has no relocation table and was mapped away from its preferred base";
        return false;
    }
    DWORD delta = actual - preferred;
    DWORD offset = 0;
    while (offset + sizeof(IMAGE_BASE_RELOCATION) <= directory.Size) {
        auto* block = At<IMAGE_BASE_RELOCATION>(base, directory.VirtualAddress + offset);
        if (block->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION))
            break;
        DWORD count = (block->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
        auto* entries = reinterpret_cast<WORD*>(block + 1);
        Writable page(base + block->VirtualAddress, 0x1000 + sizeof(DWORD));
        if (!page.Ok()) {
            error = "cannot make a relocated page writable";
            return false;
        }
        for (DWORD i = 0; i < count; ++i) {
            int type = entries[i] >> 12;
            if (type == IMAGE_REL_BASED_HIGHLOW)
                *At<DWORD>(base, block->VirtualAddress + (entries[i] & 0xFFF)) += delta;
            else if (type != IMAGE_REL_BASED_ABSOLUTE) {
                error = "unexpected relocation type " + std::to_string(type);
                return false;
            }
        }
        offset += block->SizeOfBlock;
    }
    Writable header(&nt->OptionalHeader.ImageBase, sizeof(DWORD));
    nt->OptionalHeader.ImageBase = actual;
    return true;
}

bool BindImports(BYTE* base, IMAGE_NT_HEADERS32* nt, std::string& error) {
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return true;
    for (auto* import = At<IMAGE_IMPORT_DESCRIPTOR>(base, directory.VirtualAddress); import->Name != 0;
         ++import) {
        const char* dllName = At<char>(base, import->Name);
        // Only system DLLs are imported; they stay loaded for the test program's whole run,
        // so the reference taken here is deliberately kept.
        HMODULE dll = LoadLibraryA(dllName);
        if (dll == nullptr) {
            error = std::string("cannot load ") + dllName;
            return false;
        }
        DWORD lookupRva = import->OriginalFirstThunk != 0 ? import->OriginalFirstThunk : import->FirstThunk;
        auto* lookup = At<IMAGE_THUNK_DATA32>(base, lookupRva);
        auto* thunk = At<IMAGE_THUNK_DATA32>(base, import->FirstThunk);
        for (; lookup->u1.AddressOfData != 0; ++lookup, ++thunk) {
            FARPROC address;
            std::string what;
            if (IMAGE_SNAP_BY_ORDINAL32(lookup->u1.Ordinal)) {
                WORD ordinal = static_cast<WORD>(IMAGE_ORDINAL32(lookup->u1.Ordinal));
                address = GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
                what = "#" + std::to_string(ordinal);
            } else {
                auto* byName = At<IMAGE_IMPORT_BY_NAME>(base, lookup->u1.AddressOfData);
                what = reinterpret_cast<const char*>(byName->Name);
                address = GetProcAddress(dll, what.c_str());
            }
            if (address == nullptr) {
                error = std::string(dllName) + " has no " + what;
                return false;
            }
            Writable slot(&thunk->u1.Function, sizeof(DWORD));
            thunk->u1.Function = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(address));
        }
    }
    return true;
}

} // namespace

Module LoadExecutableAsLibrary(const std::string& path, std::string& error) {
    Module module(LoadLibraryA(path.c_str()));
    if (!module) {
        error = "LoadLibrary failed with " + std::to_string(GetLastError());
        return Module();
    }
    auto* base = reinterpret_cast<BYTE*>(module.Get());
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = At<IMAGE_NT_HEADERS32>(base, dos->e_lfanew);
    if (!Relocate(base, nt, error) || !BindImports(base, nt, error))
        return Module();
    return module;
}

int RedirectImport(HMODULE module, const char* function, FARPROC replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = At<IMAGE_NT_HEADERS32>(base, reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return 0;
    int changed = 0;
    for (auto* import = At<IMAGE_IMPORT_DESCRIPTOR>(base, directory.VirtualAddress); import->Name != 0;
         ++import) {
        if (import->OriginalFirstThunk == 0)
            continue; // no names left to match against
        auto* lookup = At<IMAGE_THUNK_DATA32>(base, import->OriginalFirstThunk);
        auto* thunk = At<IMAGE_THUNK_DATA32>(base, import->FirstThunk);
        for (; lookup->u1.AddressOfData != 0; ++lookup, ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL32(lookup->u1.Ordinal))
                continue;
            auto* byName = At<IMAGE_IMPORT_BY_NAME>(base, lookup->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            Writable slot(&thunk->u1.Function, sizeof(DWORD));
            thunk->u1.Function = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(replacement));
            ++changed;
        }
    }
    return changed;
}
