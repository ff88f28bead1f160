// The server's own entry in the registry: HKCR\CLSID\{application class} with InprocServer32
// naming this DLL. Another server registered for the same class is never taken over: the
// class id is shared with the component we stand in for, and a machine that has it keeps it.
#include "tlinfo/component/component.h"

#include <olectl.h>
#include <string>

#include "common/owners.h"
#include "common/registrytext.h"
#include "common/text.h"

namespace tlinfo {

namespace {

const wchar_t kClassKey[] = TLINFO_WIDE(TLINFO_APPLICATION_CLASS_KEY);
const wchar_t kInprocKey[] = TLINFO_WIDE(TLINFO_APPLICATION_CLASS_KEY "\\InprocServer32");
const wchar_t kLocalKey[] = TLINFO_WIDE(TLINFO_APPLICATION_CLASS_KEY "\\LocalServer32");
const wchar_t kClassName[] = L"Corvane TypeLib Information";
const wchar_t kThreadingModel[] = L"Apartment";

// Who serves the class now.
enum class Holder { Nobody, Us, Another };

// The default value of a key under HKCR as text, with environment strings expanded; empty
// when the key or value is missing or not text.
std::wstring DefaultValue(const wchar_t* keyName) {
    return ReadRegistryText(HKEY_CLASSES_ROOT, std::wstring(keyName), nullptr).value_or(std::wstring());
}

// Two names of one file: file names compare without regard to case, and a registered name may
// be a short (8.3) or relative one.
bool SameFile(const std::wstring& registered, const wchar_t* modulePath) {
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(registered.c_str(), MAX_PATH, full, nullptr);
    std::wstring candidate = (length > 0 && length < MAX_PATH) ? full : registered;
    wchar_t longName[MAX_PATH];
    length = GetLongPathNameW(candidate.c_str(), longName, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        candidate = longName;
    wchar_t moduleLong[MAX_PATH];
    std::wstring module = modulePath;
    length = GetLongPathNameW(modulePath, moduleLong, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        module = moduleLong;
    return EqualIgnoringCase(candidate, module);
}

Holder CurrentHolder(const wchar_t* modulePath) {
    std::wstring inproc = DefaultValue(kInprocKey);
    if (!inproc.empty())
        return SameFile(inproc, modulePath) ? Holder::Us : Holder::Another;
    // An out-of-process server registered for the class is another server too: an in-process
    // entry of ours would take precedence over it for every client.
    return DefaultValue(kLocalKey).empty() ? Holder::Nobody : Holder::Another;
}

LSTATUS SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
    DWORD size = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
}

HRESULT WriteRegistration(const wchar_t* modulePath, bool& createdClassKey) {
    RegKey classKey;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, kClassKey, 0, nullptr, 0, KEY_WRITE, nullptr, classKey.Put(),
                        &disposition) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    createdClassKey = disposition == REG_CREATED_NEW_KEY;
    if (SetText(classKey.Get(), nullptr, kClassName) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    RegKey inproc;
    if (RegCreateKeyExW(classKey.Get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, inproc.Put(),
                        nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    if (SetText(inproc.Get(), nullptr, modulePath) != ERROR_SUCCESS ||
        SetText(inproc.Get(), L"ThreadingModel", kThreadingModel) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    return S_OK;
}

} // namespace

HRESULT RegisterServer(const wchar_t* modulePath) {
    if (CurrentHolder(modulePath) == Holder::Another)
        return SELFREG_E_CLASS;
    bool createdClassKey = false;
    HRESULT hr = WriteRegistration(modulePath, createdClassKey);
    // A half-written entry would point clients at nothing useful; take back what we added.
    if (FAILED(hr))
        RegDeleteTreeW(HKEY_CLASSES_ROOT, createdClassKey ? kClassKey : kInprocKey);
    return hr;
}

HRESULT UnregisterServer(const wchar_t* modulePath) {
    switch (CurrentHolder(modulePath)) {
    case Holder::Another:
        // Not ours to remove; this DLL is not registered, which is what the caller wants.
        return S_FALSE;
    case Holder::Nobody:
        return S_OK;
    case Holder::Us:
        break;
    }
    LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}

} // namespace tlinfo
