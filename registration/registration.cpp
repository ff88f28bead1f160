#include "registration/registration.h"

#include <oleauto.h>
#include <cstring>

#include "common/owners.h"
#include "common/programstate.h"
#include "common/text.h"

namespace {

// The code LoadTypeLib gives for a file that holds no type library; the user sees a text of
// its own for it, whichever direction failed.
constexpr HRESULT kNotATypeLibrary = static_cast<HRESULT>(0x80029C4A);

std::string DirectionLabel(int registerFlag) {
    return registerFlag ? "Register Type Library " : "Unregister Type Library ";
}

// The registry keeps the path that registration is given; a relative one would resolve against
// whatever folder a later client runs in, so the typed path is made absolute first.
HRESULT FullPathOf(const std::string& path, std::string& fullPath) {
    DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    std::string buffer(needed, '\0');
    DWORD written = GetFullPathNameA(path.c_str(), needed, &buffer[0], nullptr);
    if (written == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    if (written >= needed) // the current folder changed between the two calls
        return E_UNEXPECTED;
    buffer.resize(written);
    fullPath = buffer;
    return S_OK;
}

HRESULT RegisterFromFile(const std::string& path) {
    std::string fullPath;
    HRESULT hr = FullPathOf(path, fullPath);
    if (hr != S_OK)
        return hr;
    // No type library is loaded from a path of MAX_PATH characters or more, and Wine's
    // LoadTypeLib overruns its own buffers on one (seen from 266 characters on): such a
    // path is refused before it reaches the loader.
    std::wstring widePath = ToWideTerminated(fullPath);
    if (widePath.size() - 1 >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    std::vector<BYTE> buffer;
    COPYTOBYTES(widePath, buffer);

    ComPtr<ITypeLib> library;
    hr = LoadTypeLib(reinterpret_cast<LPCOLESTR>(buffer.data()), library.Put());
    if (hr != S_OK)
        return hr;
    return RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(widePath.c_str()), nullptr);
}

// The identity that the file declares, as the component reads it.
struct LibraryIdentity {
    std::string guidText;
    short major = 0;
    short minor = 0;
    LCID locale = 0;
};

HRESULT ReadIdentity(ITlInfoApplication* application, const std::string& path, LibraryIdentity& identity) {
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
    if (FAILED(hr = library->GuidText(guidText.Put())))
        return hr;
    identity.guidText = ToAnsi(guidText.Get());
    if (FAILED(hr = library->MajorVersion(&identity.major)))
        return hr;
    if (FAILED(hr = library->MinorVersion(&identity.minor)))
        return hr;
    if (FAILED(hr = library->Locale(&identity.locale)))
        return hr;
    return S_OK;
}

HRESULT UnregisterIdentity(const std::string& path) {
    // Without the component the file's identity cannot be read: nothing is unregistered, and
    // the failure says that the component's class is not available.
    ITlInfoApplication* application = g_program.application;
    if (!application)
        return REGDB_E_CLASSNOTREG;

    LibraryIdentity identity;
    HRESULT hr = ReadIdentity(application, path, identity);
    if (hr != S_OK)
        return hr;

    std::vector<BYTE> buffer;
    COPYTOBYTES(ToWideTerminated(identity.guidText), buffer);
    GUID guid;
    hr = CLSIDFromString(reinterpret_cast<LPCOLESTR>(buffer.data()), &guid);
    if (hr != S_OK)
        return hr;
    // The versions are 16-bit patterns; the registration services take them unsigned.
    return UnRegisterTypeLib(guid, static_cast<WORD>(identity.major), static_cast<WORD>(identity.minor),
                             identity.locale, SYS_WIN32);
}

} // namespace

void COPYTOBYTES(const std::wstring& text, std::vector<BYTE>& bytes) {
    size_t length = text.size() * sizeof(wchar_t);
    bytes.assign(length, 0);
    if (length != 0)
        std::memcpy(bytes.data(), text.data(), length);
}

std::string HexText(HRESULT result) {
    // The system's formatter: the C runtime's snprintf would link a printf with floating point.
    char text[16];
    wsprintfA(text, "%lX", static_cast<unsigned long>(result));
    return text;
}

OutcomeMessage RegistrationOutcome(int registerFlag, const std::string& path, HRESULT result) {
    if (result == S_OK)
        return {DirectionLabel(registerFlag) + path + " succeeded.", MB_OK | MB_ICONINFORMATION};
    if (result == kNotATypeLibrary)
        return {"This is not a COM object. It cannot be registered.", MB_OK | MB_ICONHAND};
    return {DirectionLabel(registerFlag) + path + " failed: the error returned was " + HexText(result),
            MB_OK | MB_ICONHAND};
}

HRESULT APPLYREGISTRATION(std::string path, int registerFlag) {
    return registerFlag ? RegisterFromFile(path) : UnregisterIdentity(path);
}

int CHANGEREGISTRATION(std::string path, int registerFlag, int report) {
    if (path.empty())
        return -1;
    HRESULT result = APPLYREGISTRATION(path, registerFlag);
    if (!report)
        return result;
    OutcomeMessage message = RegistrationOutcome(registerFlag, path, result);
    MessageBoxA(nullptr, message.text.c_str(), kProgramCaption, message.style);
    return result;
}
