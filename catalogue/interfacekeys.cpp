// The keys a client's marshalling and activation read, in one view of a branch: Interface and
// CLSID keys, and whether a library version is registered at all. Kept apart from views.cpp,
// which the window links, since only the console reads them.
#include "catalogue/catalogue.h"

#include "catalogue/registrykeys.h"
#include "common/registrytext.h"
#include "common/text.h"

using namespace catalogue_detail;

const wchar_t kClassKey[] = L"Software\\Classes\\CLSID";

RegKey catalogue_detail::OpenInView(Scope scope, const std::wstring& path, View view) {
    RegKey key;
    if (RegOpenKeyExW(BranchRoot(scope), path.c_str(), 0, KEY_READ | ViewAccess(view), key.Put()) !=
        ERROR_SUCCESS)
        key.Reset();
    return key;
}

namespace {

InterfaceKey ReadOpenInterfaceKey(HKEY key, Scope scope, View view, const std::wstring& iid) {
    InterfaceKey read;
    read.scope = scope;
    read.view = view;
    read.iid = iid;
    read.name = ReadRegistryText(key, static_cast<const wchar_t*>(nullptr)).value_or(L"");
    read.typeLib = ReadRegistryText(key, std::wstring(L"TypeLib"), nullptr);
    read.typeLibVersion = ReadRegistryText(key, std::wstring(L"TypeLib"), L"Version");
    read.proxyStub = ReadRegistryText(key, std::wstring(L"ProxyStubClsid32"), nullptr);
    return read;
}

} // namespace

std::wstring InterfaceKey::KeyName() const {
    std::wstring name = BranchKeyName(scope) + L"\\" + InterfaceKeyPath(iid);
    return RegistryViews().size() > 1 ? name + L" (" + ToWide(ViewName(view)) + L" view)" : name;
}

std::vector<InterfaceKey> ReadLibraryInterfaceKeys(Scope scope, View view, const GUID* library) {
    std::vector<InterfaceKey> keys;
    RegKey interfaces = OpenInView(scope, kInterfaceKey, view);
    if (!interfaces)
        return keys;
    for (const std::wstring& iid : SubkeyNames(interfaces.Get())) {
        RegKey key = OpenForReading(interfaces.Get(), iid);
        if (!key)
            continue;
        std::optional<std::wstring> typeLib = ReadRegistryText(key.Get(), std::wstring(L"TypeLib"), nullptr);
        GUID named;
        if (!typeLib || !ParseGuid(*typeLib, named) || (library && !IsEqualGUID(named, *library)))
            continue;
        keys.push_back(ReadOpenInterfaceKey(key.Get(), scope, view, iid));
    }
    return keys;
}

std::optional<InterfaceKey> ReadInterfaceKey(Scope scope, View view, const std::wstring& iid) {
    RegKey key = OpenInView(scope, std::wstring(kClassesKey) + L"\\" + InterfaceKeyPath(iid), view);
    if (!key)
        return std::nullopt;
    return ReadOpenInterfaceKey(key.Get(), scope, view, iid);
}

std::optional<ClassKey> ReadClassKey(Scope scope, View view, const std::wstring& clsid) {
    RegKey key = OpenInView(scope, std::wstring(kClassKey) + L"\\" + clsid, view);
    if (!key)
        return std::nullopt;
    ClassKey read;
    read.scope = scope;
    read.view = view;
    read.name = ReadRegistryText(key.Get(), static_cast<const wchar_t*>(nullptr)).value_or(L"");
    read.inprocServer = ReadRegistryText(key.Get(), std::wstring(L"InprocServer32"), nullptr);
    read.localServer = ReadRegistryText(key.Get(), std::wstring(L"LocalServer32"), nullptr);
    read.typeLib = ReadRegistryText(key.Get(), std::wstring(L"TypeLib"), nullptr);
    return read;
}

bool ClassKeyExists(const std::wstring& clsid, View view) {
    for (Scope scope : {Scope::User, Scope::Machine})
        if (OpenInView(scope, std::wstring(kClassKey) + L"\\" + clsid, view))
            return true;
    return false;
}

bool VersionKeyExists(const std::wstring& guidText, const std::wstring& versionKeyName) {
    for (Scope scope : {Scope::User, Scope::Machine})
        if (OpenInView(scope,
                       std::wstring(kClassesKey) + L"\\" + kTypeLibName + L"\\" + guidText + L"\\" +
                           versionKeyName,
                       View::Bits32))
            return true;
    return false;
}
