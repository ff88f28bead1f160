// Capturing what registering a library writes: the system's own registration into a private
// key, read back as a tree and deleted again.
#include "registration/classesroot.h"

#include <objbase.h>

#include <algorithm>

#include "catalogue/catalogue.h"
#include "common/owners.h"
#include "common/paths.h"
#include "common/text.h"
#include "registration/registration.h"

namespace {

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
        path_ = L"Software\\Corvane capture " + GuidText(unique);
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
        size_t separator = key.path.find(L'\\');
        if (separator == std::wstring::npos && key.values.empty())
            continue;
        // Registration creates the first-level key itself in an empty root, and spells it
        // "Typelib"; the names compare without regard to case, and the file shows the usual one.
        std::wstring first = key.path.substr(0, separator);
        for (const wchar_t* usual : {kTypeLibName, kInterfaceName})
            if (EqualIgnoringCase(first, usual))
                key.path.replace(0, first.size(), usual);
        tree.push_back(std::move(key));
    }
    return S_OK;
}

// Under WOW64 the system's registration writes each interface key in the 64-bit view as well,
// and Wine's writes that view past any mapping of HKEY_CLASSES_ROOT, into the live machine's
// classes (seen: a capture re-created a deleted 64-bit key). So before a capture the 64-bit
// view's keys of every interface the library declares are read, and afterwards each is put
// back exactly as it was, or deleted when it was not there. Nothing is done with one view.
class KeptSixtyFourBitKeys {
  public:
    KeptSixtyFourBitKeys() = default;
    KeptSixtyFourBitKeys(const KeptSixtyFourBitKeys&) = delete;
    KeptSixtyFourBitKeys& operator=(const KeptSixtyFourBitKeys&) = delete;
    ~KeptSixtyFourBitKeys() {
        for (const Kept& kept : kept_) {
            RegDeleteTreeW(interfaces_.Get(), kept.iid.c_str());
            for (const RegistryKeyEntry& entry : kept.tree) {
                RegKey key;
                if (RegCreateKeyExW(interfaces_.Get(), entry.path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                    key.Put(), nullptr) != ERROR_SUCCESS)
                    continue;
                for (const RegistryValue& value : entry.values)
                    RegSetValueExW(key.Get(), value.name.empty() ? nullptr : value.name.c_str(), 0,
                                   value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
            }
        }
    }

    // Reads the interfaces of the library, walked and held by the caller.
    HRESULT Keep(ITypeLib* library) {
        if (RegistryViews().size() < 2)
            return S_OK;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInterfaceKey, 0,
                                       KEY_READ | KEY_WRITE | DELETE | KEY_WOW64_64KEY, interfaces_.Put());
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
        for (UINT i = 0, count = library->GetTypeInfoCount(); i < count; ++i) {
            ComPtr<ITypeInfo> info;
            if (FAILED(library->GetTypeInfo(i, info.Put())))
                continue;
            TypeAttributes held(info.Get());
            if (FAILED(info->GetTypeAttr(held.Put())) ||
                (held->typekind != TKIND_INTERFACE && held->typekind != TKIND_DISPATCH))
                continue;
            Kept kept;
            kept.iid = GuidText(held->guid);
            status = ReadRegistryTree(interfaces_.Get(), kept.iid, kept.tree);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return HRESULT_FROM_WIN32(status);
            if (status != ERROR_SUCCESS)
                kept.tree.clear();
            kept_.push_back(std::move(kept));
        }
        return S_OK;
    }

  private:
    struct Kept {
        std::wstring iid;
        RegistryTree tree; // empty: the key was not there
    };
    RegKey interfaces_;
    std::vector<Kept> kept_;
};

} // namespace

HRESULT CaptureRegistration(const std::wstring& path, RegistryTree& tree) {
    PrivateKey root;
    HRESULT hr = root.Create();
    if (FAILED(hr))
        return hr;
    // The file is held for the whole capture, from before a child walks it: the library whose
    // interfaces are kept is the one registered, and registering recalls the child's answer for
    // the held bytes.
    std::wstring fullPath;
    if (FAILED(hr = reader::RefusePath(path)) || FAILED(hr = FullPath(path, fullPath)))
        return hr;
    reader::WalkedLibrary walked;
    if ((hr = reader::LoadWalked(fullPath, walked)) != S_OK)
        return hr;
    KeptSixtyFourBitKeys kept;
    if (FAILED(hr = kept.Keep(walked.library.Get())))
        return hr;
    {
        ClassesRootMapping mapping(root.Get());
        if (mapping.Result() != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(mapping.Result());
        // With HKEY_CLASSES_ROOT mapped, the machine-wide registration writes into the mapped key.
        hr = RegisterLibraryFile(fullPath, Scope::Machine);
    }
    // What registration wrote names the interfaces, also when it failed half-way.
    RegistryTree written;
    HRESULT read = ReadWritten(root.Get(), written);
    if (hr != S_OK)
        return hr;
    tree.insert(tree.end(), written.begin(), written.end());
    return read;
}

HRESULT CapturedInterfaces(const std::wstring& path, std::vector<std::wstring>& iids) {
    RegistryTree tree;
    HRESULT hr = CaptureRegistration(path, tree);
    // The captured keys are named from the classes root: "Interface\{IID}" and keys below it.
    for (const RegistryKeyEntry& key : tree) {
        std::wstring iid;
        if (PathWithin(key.path, kInterfaceName, &iid) && !iid.empty() &&
            iid.find(L'\\') == std::wstring::npos)
            iids.push_back(iid);
    }
    return hr;
}
