#include "catalogue/typelibfacts.h"

#include "catalogue/registry.h"
#include "common/owners.h"
#include "common/programstate.h"
#include "common/text.h"

namespace {

std::string Decimal(unsigned value) {
    return std::to_string(value);
}

std::string Hex(unsigned value) {
    // The system's formatter: the C runtime's snprintf would link a printf with floating point.
    char text[16];
    wsprintfA(text, "%x", value);
    return text;
}

void SetText(HWND window, int id, const std::string& text) {
    SetWindowTextA(GetDlgItem(window, id), text.c_str());
}

void SetRegistered(HWND window, bool registered) {
    SendMessageA(GetDlgItem(window, IDC_REGISTERED), BM_SETCHECK, registered ? BST_CHECKED : BST_UNCHECKED,
                 0);
}

void ClearView(HWND window) {
    SetText(window, IDC_NAME, "");
    SetText(window, IDC_GUID, "");
    SetText(window, IDC_VERSION, "");
    SetRegistered(window, false);
}

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

// The normal course of the view, from the open to the check box. The library object goes
// to the caller's owner, which releases it on both ways out.
HRESULT ShowFacts(HWND window, ITlInfoApplication* application, TypeLibFacts& facts,
                  ComPtr<ITlInfoLibrary>& library) {
    if (application == nullptr)
        return E_POINTER;
    Bstr path = ToBstr(facts.path);
    HRESULT hr = application->OpenLibraryFile(path.Get(), library.Put());
    if (FAILED(hr))
        return hr;
    if (!library)
        return E_POINTER;

    auto description = [&](BSTR* text) { return library->DescriptiveText(0, text); };
    auto name = [&](BSTR* text) { return library->Name(text); };
    auto guid = [&](BSTR* text) { return library->GuidText(text); };

    if (FAILED(hr = AskText(description, facts.description)))
        return hr;
    if (FAILED(hr = AskText(name, facts.name)))
        return hr;
    SetText(window, IDC_NAME, NameLine(facts));
    if (FAILED(hr = AskText(guid, facts.guidText)))
        return hr;
    SetText(window, IDC_GUID, facts.guidText);
    if (FAILED(hr = AskVersion(library.Get(), facts.majorVersion, facts.minorVersion)))
        return hr;
    SetText(window, IDC_VERSION, VersionText(facts));

    // The key and the comparison use a second set of answers, asked just before the read.
    if (FAILED(hr = AskText(guid, facts.guidText)))
        return hr;
    if (FAILED(hr = AskVersion(library.Get(), facts.majorVersion, facts.minorVersion)))
        return hr;
    if (FAILED(hr = AskText(description, facts.description)))
        return hr;

    // Registration stores the description as the default value of the version key. A key
    // that is missing (or unreadable) means "not registered" even when the description is
    // empty; otherwise the texts must match byte for byte, case included.
    std::optional<std::string> value = ReadRegValue(HKEY_CLASSES_ROOT, VersionKey(facts), "");
    facts.registered = value.has_value() && *value == facts.description;
    SetRegistered(window, facts.registered);
    return S_OK;
}

} // namespace

std::string NameLine(const TypeLibFacts& facts) {
    return facts.name + " (" + facts.description + ")";
}

std::string VersionText(const TypeLibFacts& facts) {
    return Decimal(facts.majorVersion) + "." + Decimal(facts.minorVersion);
}

std::string VersionKey(const TypeLibFacts& facts) {
    return "TypeLib\\" + facts.guidText + "\\" + Hex(facts.majorVersion) + "." + Hex(facts.minorVersion);
}

void ShowTypeLibFacts(HWND mainWindow, ITlInfoApplication* application, std::string path) {
    if (path.empty()) {
        ClearView(mainWindow);
        return;
    }
    TypeLibFacts facts;
    facts.path = std::move(path);
    ComPtr<ITlInfoLibrary> library;
    if (FAILED(ShowFacts(mainWindow, application, facts, library))) {
        // One way out for every failure: no fact of this file or an earlier one stays shown.
        ClearView(mainWindow);
    }
    library.Reset();
}

void SHOWTYPELIBFACTS(std::string path) {
    ShowTypeLibFacts(g_program.mainWindow, g_program.application, std::move(path));
}
