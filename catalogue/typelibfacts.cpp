#include "catalogue/typelibfacts.h"

#include "catalogue/registry.h"
#include "common/owners.h"
#include "common/text.h"

namespace {

// Asks one text of the library; the BSTR is converted at once and freed here.
template <class Ask> HRESULT AskText(Ask ask, std::string& text) {
    Bstr answer;
    HRESULT hr = ask(answer.Put());
    if (SUCCEEDED(hr))
        text = ToAnsi(answer.Get());
    return hr;
}

// The component hands versions over as signed 16-bit numbers; they are unsigned, so that
// 65535 shows as 65535 and names the key "ffff" that registration writes.
HRESULT AskVersion(ITlInfoLibrary* library, unsigned short& major, unsigned short& minor) {
    short value = 0;
    HRESULT hr = library->MajorVersion(&value);
    if (FAILED(hr))
        return hr;
    major = static_cast<unsigned short>(value);
    hr = library->MinorVersion(&value);
    if (FAILED(hr))
        return hr;
    minor = static_cast<unsigned short>(value);
    return hr;
}

} // namespace

bool IsRegisteredVersion(const std::string& versionKey, const std::string& description) {
    // A key that is missing (or unreadable) means "not registered" even when the description
    // is empty; otherwise the texts must match byte for byte, case included.
    std::optional<std::string> value = ReadRegValue(HKEY_CLASSES_ROOT, versionKey, "");
    return value.has_value() && *value == description;
}

HRESULT ReadTypeLibFacts(ITlInfoApplication* application, const std::string& path, TypeLibFacts& facts) {
    facts = TypeLibFacts();
    facts.path = path;
    if (application == nullptr)
        return E_POINTER;
    ComPtr<ITlInfoLibrary> library;
    Bstr widePath = ToBstr(path);
    HRESULT hr = application->OpenLibraryFile(widePath.Get(), library.Put());
    if (FAILED(hr))
        return hr;
    if (!library)
        return E_POINTER;

    auto description = [&](BSTR* text) { return library->DescriptiveText(0, text); };
    auto name = [&](BSTR* text) { return library->Name(text); };
    auto guid = [&](BSTR* text) { return library->GuidText(text); };

    if (FAILED(hr = AskText(description, facts.description)) || FAILED(hr = AskText(name, facts.name)) ||
        FAILED(hr = AskText(guid, facts.guidText)) ||
        FAILED(hr = AskVersion(library.Get(), facts.majorVersion, facts.minorVersion)))
        return hr;

    // The key and the comparison use a second set of answers, asked just before the read; the
    // first ones are what the window shows.
    TypeLibFacts checked;
    if (FAILED(hr = AskText(guid, checked.guidText)) ||
        FAILED(hr = AskVersion(library.Get(), checked.majorVersion, checked.minorVersion)) ||
        FAILED(hr = AskText(description, checked.description)))
        return hr;
    facts.registered = IsRegisteredVersion(VersionKey(checked), checked.description);
    return S_OK;
}
