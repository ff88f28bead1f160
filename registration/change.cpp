// The window's registration change: registering the file, or unregistering the identity the
// component reads from it, and the texts that report the outcome. In a file of its own, so that
// corvane-cli, which reads identities itself, links nothing of it.
#include "registration/registration.h"

#include "common/owners.h"
#include "common/text.h"

namespace {

// The code LoadTypeLib gives for a file that holds no type library; the user sees a text of
// its own for it, whichever direction failed.
constexpr HRESULT kNotATypeLibrary = static_cast<HRESULT>(0x80029C4A);

std::string DirectionLabel(int registerFlag) {
    return registerFlag ? "Register Type Library " : "Unregister Type Library ";
}

// Services that take a zero-terminated string are handed the address of a byte copy of it.
HRESULT ParseGuid(const std::string& guidText, GUID& guid) {
    std::vector<BYTE> buffer;
    COPYTOBYTES(ToWideTerminated(guidText), buffer);
    return CLSIDFromString(reinterpret_cast<LPCOLESTR>(buffer.data()), &guid);
}

} // namespace

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
    identity.syskind = SYS_WIN32;
    return ParseGuid(ToAnsi(guidText.Get()), identity.guid);
}

HRESULT APPLYREGISTRATION(ITlInfoApplication* application, std::string path, int registerFlag) {
    if (registerFlag)
        return RegisterLibraryFile(path);
    LibraryIdentity identity;
    HRESULT hr = ReadDeclaredIdentity(application, path, identity);
    if (hr != S_OK)
        return hr;
    return UnregisterLibrary(identity);
}

OutcomeMessage RegistrationOutcome(int registerFlag, const std::string& path, HRESULT result) {
    if (result == S_OK)
        return {DirectionLabel(registerFlag) + path + " succeeded.", MB_OK | MB_ICONINFORMATION};
    if (result == kNotATypeLibrary)
        return {"This is not a COM object. It cannot be registered.", MB_OK | MB_ICONHAND};
    return {DirectionLabel(registerFlag) + path + " failed: the error returned was " + UpperHex(result),
            MB_OK | MB_ICONHAND};
}
