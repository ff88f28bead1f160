#include "registration/classesroot.h"

#include "catalogue/catalogue.h"
#include "common/owners.h"
#include "common/systemdll.h"

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

} // namespace

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
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kClassesKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_READ | KEY_WRITE, nullptr, classes.Put(), nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    ClassesRootMapping mapping(classes.Get());
    if (mapping.Result() != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(mapping.Result());
    return work();
}
