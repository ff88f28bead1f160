// The window's registration change: registering the file as typed, or removing the
// registration of the identity the component reads from it.
#include "registration/registration.h"

#include "common/owners.h"
#include "common/text.h"

HRESULT ReadDeclaredIdentity(ITlInfoApplication* application, const std::string& path,
                             LibraryIdentity& identity) {
    if (!application)
        return REGDB_E_CLASSNOTREG;
    ComPtr<ITlInfoLibrary> library;
    HRESULT hr;
    {
        Bstr widePath = ToBstr(path);
        hr = application->OpenLibraryFile(widePath.Get(), library.Put());
    }
    if (FAILED(hr))
        return hr;
    if (!library)
        return E_POINTER;
    Bstr guidText;
    short major = 0, minor = 0;
    LCID locale = 0;
    if (FAILED(hr = library->GuidText(guidText.Put())) || FAILED(hr = library->MajorVersion(&major)) ||
        FAILED(hr = library->MinorVersion(&minor)) || FAILED(hr = library->Locale(&locale)))
        return hr;
    library.Reset();
    // The versions are 16-bit patterns; the registration services take them unsigned.
    identity.major = static_cast<WORD>(major);
    identity.minor = static_cast<WORD>(minor);
    identity.lcid = locale;
    if (!ParseGuid(ToWide(ToAnsi(guidText.Get())), identity.guid))
        return CO_E_CLASSSTRING;
    // The component gives no system kind. The file was just read for it, so the reader
    // remembers its answer; a file it cannot read again gets the assumed one.
    LibraryDescription description;
    identity.syskind = SUCCEEDED(reader::ReadLibrary(ToWide(path), reader::Depth::Facts, description)) &&
                               IsEqualGUID(description.guid, identity.guid)
                           ? description.syskind
                           : kAssumedSysKind;
    return S_OK;
}

HRESULT APPLYREGISTRATION(ITlInfoApplication* application, std::string path, int registerFlag) {
    if (registerFlag)
        return RegisterLibraryFile(ToWide(path));
    LibraryIdentity identity;
    HRESULT hr = ReadDeclaredIdentity(application, path, identity);
    if (hr != S_OK)
        return hr;
    InterfaceIndex index;
    return RemoveRegistration(identity, Scope::Machine, index).result;
}
