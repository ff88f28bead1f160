#include "registration/registration.h"

#include <cstring>

#include "catalogue/typelibfacts.h"
#include "common/owners.h"
#include "common/paths.h"
#include "common/registrytext.h"
#include "common/text.h"
#include "reader/reader.h"
#include "registration/classesroot.h"

namespace {

// Lets a child read each file that unregistering the identity would load: the one its own key
// names, and the one the system's look-up finds (which falls back to other locales). A file that
// is gone or holds no library is no danger: the system's unregistration fails on it by itself.
HRESULT CheckRegisteredFiles(const LibraryIdentity& identity) {
    std::vector<std::wstring> files;
    if (const char* platform = PlatformKeyName(identity.syskind)) {
        std::string key = VersionKey(ToAnsi(GuidText(identity.guid)), identity.major, identity.minor) + "\\" +
                          LowerHex(identity.lcid) + "\\" + platform;
        if (std::optional<std::string> own = ReadRegistryText(HKEY_CLASSES_ROOT, key, nullptr))
            files.push_back(ToWide(*own));
    }
    Bstr found;
    if (SUCCEEDED(
            QueryPathOfRegTypeLib(identity.guid, identity.major, identity.minor, identity.lcid, found.Put())))
        files.push_back(found.Get() ? std::wstring(found.Get()) : std::wstring()); // up to its first NUL
    for (const std::wstring& file : files) {
        LibraryDescription facts;
        HRESULT hr = reader::ReadLibrary(file, reader::Depth::Registration, facts);
        if (hr == reader::kDamaged || hr == reader::kTimedOut || hr == reader::kNoReader)
            return hr;
    }
    return S_OK;
}

} // namespace

const char* PlatformKeyName(SYSKIND syskind) {
    switch (syskind) {
    case SYS_WIN16:
        return "win16";
    case SYS_WIN32:
        return "win32";
    case SYS_WIN64:
        return "win64";
    default:
        return nullptr;
    }
}

HRESULT RegisterLibraryFile(const std::string& path, Scope scope) {
    // For the user alone, the system's registration writes with HKEY_CLASSES_ROOT mapped onto
    // the user's classes.
    if (scope == Scope::User)
        return InUserClassesRoot([&] { return RegisterLibraryFile(path, Scope::Machine); });
    std::string fullPath;
    HRESULT hr = FullPath(path, fullPath);
    if (hr != S_OK)
        return hr;
    // No type library is loaded from a path of MAX_PATH characters or more, and Wine's
    // LoadTypeLib overruns its own buffers on one (seen from 266 characters on): such a
    // path is refused before it reaches the loader.
    std::wstring widePath = ToWideTerminated(fullPath);
    if (widePath.size() - 1 >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    // The file is untrusted: a child reads it first as registering will, every type info
    // included, and only a library that child survived is loaded here.
    LibraryDescription checked;
    hr = reader::ReadLibrary(ToWide(fullPath), reader::Depth::Registration, checked);
    if (FAILED(hr))
        return hr;
    std::vector<BYTE> buffer;
    COPYTOBYTES(widePath, buffer);

    ComPtr<ITypeLib> library;
    hr = LoadTypeLib(reinterpret_cast<LPCOLESTR>(buffer.data()), library.Put());
    if (hr != S_OK)
        return hr;
    return RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(widePath.c_str()), nullptr);
}

HRESULT UnregisterLibrary(const LibraryIdentity& identity, Scope scope) {
    if (scope == Scope::User)
        return InUserClassesRoot([&] {
            HRESULT hr = UnregisterLibrary(identity, Scope::Machine);
            if (hr == S_OK) {
                RemoveIfEmpty(HKEY_CLASSES_ROOT, L"TypeLib");
                RemoveIfEmpty(HKEY_CLASSES_ROOT, L"Interface");
            }
            return hr;
        });
    // The system's unregistration loads the file the registration names, to find the interfaces
    // it registered: a file that cannot be read safely is not handed to it.
    HRESULT hr = CheckRegisteredFiles(identity);
    if (FAILED(hr))
        return hr;
    return UnRegisterTypeLib(identity.guid, identity.major, identity.minor, identity.lcid, identity.syskind);
}

void COPYTOBYTES(const std::wstring& text, std::vector<BYTE>& bytes) {
    size_t length = text.size() * sizeof(wchar_t);
    bytes.assign(length, 0);
    if (length != 0)
        std::memcpy(bytes.data(), text.data(), length);
}
