// The exports of our TypeLib Information server, its object and lock counts, and the table of
// the classes it serves.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include "tlinfo/component/component.h"

namespace {

HMODULE module_ = nullptr;
LONG objects_ = 0;
LONG locks_ = 0;

struct ClassEntry {
    const CLSID* clsid;
    tlinfo::CreateFunction create;
};

const ClassEntry classes_[] = {
    {&CLSID_TlInfoApplication, &tlinfo::CreateApplication},
};

// The full path of this DLL, as the registry names it. False when it does not fit.
bool ModulePath(wchar_t (&path)[MAX_PATH]) {
    DWORD length = GetModuleFileNameW(module_, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

} // namespace

namespace tlinfo {

void ObjectCreated() {
    InterlockedIncrement(&objects_);
}
void ObjectDestroyed() {
    InterlockedDecrement(&objects_);
}
void LockModule(bool lock) {
    if (lock)
        InterlockedIncrement(&locks_);
    else
        InterlockedDecrement(&locks_);
}
bool ModuleInUse() {
    return InterlockedCompareExchange(&objects_, 0, 0) != 0 || InterlockedCompareExchange(&locks_, 0, 0) != 0;
}

} // namespace tlinfo

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        module_ = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (const ClassEntry& entry : classes_) {
        if (IsEqualCLSID(clsid, *entry.clsid))
            return tlinfo::CreateClassFactory(entry.create, riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT __stdcall DllCanUnloadNow() {
    return tlinfo::ModuleInUse() ? S_FALSE : S_OK;
}

extern "C" HRESULT __stdcall DllRegisterServer() {
    wchar_t path[MAX_PATH];
    if (!ModulePath(path))
        return SELFREG_E_CLASS;
    return tlinfo::RegisterServer(path);
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
    wchar_t path[MAX_PATH];
    if (!ModulePath(path))
        return SELFREG_E_CLASS;
    return tlinfo::UnregisterServer(path);
}
