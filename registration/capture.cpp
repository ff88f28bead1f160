// Capturing what registering a library writes: the system's own registration into a private
// key, read back as a tree and deleted again.
#include "registration/classesroot.h"

#include <objbase.h>

#include <algorithm>

#include "catalogue/registrations.h"
#include "common/owners.h"
#include "common/registrytext.h"
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
        for (const wchar_t* usual : {L"TypeLib", L"Interface"})
            if (CompareStringOrdinal(first.c_str(), -1, usual, -1, TRUE) == CSTR_EQUAL)
                key.path.replace(0, first.size(), usual);
        tree.push_back(std::move(key));
    }
    return S_OK;
}

// Under WOW64, Wine's registration writes the 64-bit view's interface keys past the mapping of
// HKEY_CLASSES_ROOT, into the machine's live classes (seen under Wine 8; on Windows the mapping
// holds). The interface keys that appear there during a capture are deleted again, so that the
// live registry stays as it was; a key that was there before is left as it is.
class LiveSixtyFourBitInterfaces {
  public:
    LiveSixtyFourBitInterfaces() {
        if (RegistryViews().size() > 1 && Open(KEY_READ))
            ReadSubkeyNames(key_.Get(), before_);
    }
    void RemoveAdded(const RegistryTree& tree) {
        if (RegistryViews().size() < 2 || !Open(KEY_READ | DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_SET_VALUE))
            return;
        for (const RegistryKeyEntry& key : tree) {
            if (!IsInterfaceKey(key.path) || std::count(key.path.begin(), key.path.end(), L'\\') != 1)
                continue;
            std::wstring iid = key.path.substr(key.path.find(L'\\') + 1);
            // Key names compare without regard to case, as the registry compares them.
            if (std::none_of(before_.begin(), before_.end(), [&](const std::wstring& name) {
                    return CompareStringOrdinal(name.c_str(), -1, iid.c_str(), -1, TRUE) == CSTR_EQUAL;
                }))
                RegDeleteTreeW(key_.Get(), iid.c_str());
        }
    }

  private:
    bool Open(REGSAM access) {
        key_.Reset();
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInterfaceKey, 0, access | ViewAccess(View::Bits64),
                             key_.Put()) == ERROR_SUCCESS;
    }
    RegKey key_;
    std::vector<std::wstring> before_;
};

} // namespace

HRESULT CaptureRegistration(const std::wstring& path, RegistryTree& tree) {
    PrivateKey root;
    HRESULT hr = root.Create();
    if (FAILED(hr))
        return hr;
    LiveSixtyFourBitInterfaces live;
    {
        ClassesRootMapping mapping(root.Get());
        if (mapping.Result() != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(mapping.Result());
        // With HKEY_CLASSES_ROOT mapped, the machine-wide registration writes into the mapped key.
        hr = RegisterLibraryFile(path, Scope::Machine);
    }
    // What registration wrote names the interfaces, also when it failed half-way.
    RegistryTree written;
    HRESULT read = ReadWritten(root.Get(), written);
    live.RemoveAdded(written);
    if (hr != S_OK)
        return hr;
    tree.insert(tree.end(), written.begin(), written.end());
    return read;
}
