#include "registration/classesroot.h"

#include <objbase.h>

#include "common/owners.h"
#include "common/systemdll.h"
#include "registration/registration.h"

const wchar_t kUserClassesPath[] = L"Software\\Classes";

namespace {

// Called once per process: what it turns on holds for every later registration call and cannot
// be turned off.
void EnablePerUserTypeLibRegistration() {
    static const bool enabled = [] {
        using Enable = void(WINAPI*)();
        Enable enable = SystemFunctionOf<Enable>("oleaut32.dll", "OaEnablePerUserTLibRegistration");
        if (enable)
            enable();
        return enable != nullptr;
    }();
    (void)enabled;
}

// Deletes classes\name when nothing is left in it.
void RemoveIfEmpty(HKEY classes, const wchar_t* name) {
    RegKey key;
    if (RegOpenKeyExW(classes, name, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    key.Reset();
    if (subkeys == 0 && values == 0)
        RegDeleteKeyW(classes, name);
}

// A key of ours under HKEY_CURRENT_USER\Software with a name nobody else uses, deleted with
// everything in it when the object goes.
class PrivateKey {
  public:
    PrivateKey() = default;
    PrivateKey(const PrivateKey&) = delete;
    PrivateKey& operator=(const PrivateKey&) = delete;
    ~PrivateKey() {
        if (!key_)
            return;
        key_.Reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    }

    HRESULT Create() {
        GUID unique;
        HRESULT hr = CoCreateGuid(&unique);
        if (FAILED(hr))
            return hr;
        wchar_t guidText[40];
        if (StringFromGUID2(unique, guidText, 40) == 0)
            return E_UNEXPECTED;
        path_ = std::wstring(L"Software\\Corvane capture ") + guidText;
        DWORD disposition = 0;
        LSTATUS status =
            RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, key_.Put(), &disposition);
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
        // A key that was there already is not ours to fill and delete.
        if (disposition != REG_CREATED_NEW_KEY) {
            key_.Reset();
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        }
        return S_OK;
    }
    HKEY Get() const { return key_.Get(); }

  private:
    RegKey key_;
    std::wstring path_;
};

// Everything registration wrote under root, except the first-level keys (TypeLib, Interface)
// that every machine has and that only hold the library's keys.
HRESULT ReadWritten(HKEY root, RegistryTree& tree) {
    RegistryTree all;
    LSTATUS status = ReadRegistryTree(root, L"", all);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    for (RegistryKeyEntry& key : all) {
        bool container = key.path.find(L'\\') == std::wstring::npos;
        if (!container || !key.values.empty())
            tree.push_back(std::move(key));
    }
    return S_OK;
}

} // namespace

ClassesRootMapping::ClassesRootMapping(HKEY target) {
    EnablePerUserTypeLibRegistration();
    result_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, target);
}

ClassesRootMapping::~ClassesRootMapping() {
    if (result_ == ERROR_SUCCESS)
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
}

HRESULT InUserClassesRoot(const std::function<HRESULT()>& work) {
    RegKey classes;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kUserClassesPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_READ | KEY_WRITE, nullptr, classes.Put(), nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    ClassesRootMapping mapping(classes.Get());
    if (mapping.Result() != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(mapping.Result());
    return work();
}

HRESULT RegisterForUser(const std::string& path) {
    return InUserClassesRoot([&] { return APPLYREGISTRATION(path, 1); });
}

HRESULT UnregisterForUser(const GUID& guid, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
    return InUserClassesRoot([&] {
        HRESULT hr = UnRegisterTypeLib(guid, major, minor, lcid, syskind);
        if (hr != S_OK)
            return hr;
        // Registering created these keys when the user's classes had none (as in a fresh Wine
        // prefix); when nothing else is left in them they go too, so that a round trip leaves the
        // user's classes as they were.
        RemoveIfEmpty(HKEY_CLASSES_ROOT, L"TypeLib");
        RemoveIfEmpty(HKEY_CLASSES_ROOT, L"Interface");
        return hr;
    });
}

HRESULT CaptureRegistration(const std::string& path, RegistryTree& tree) {
    PrivateKey root;
    HRESULT hr = root.Create();
    if (FAILED(hr))
        return hr;
    {
        ClassesRootMapping mapping(root.Get());
        if (mapping.Result() != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(mapping.Result());
        hr = APPLYREGISTRATION(path, 1);
    }
    if (hr != S_OK)
        return hr;
    return ReadWritten(root.Get(), tree);
}
