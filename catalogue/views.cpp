// The two registry views of 64-bit Windows, and the Interface keys read in each.
#include "catalogue/catalogue.h"

#include "catalogue/registrykeys.h"
#include "common/registrytext.h"
#include "common/text.h"

using namespace catalogue_detail;

const wchar_t kInterfaceKey[] = L"Software\\Classes\\Interface";

namespace {

bool RunsUnderWow64() {
    static const bool wow64 = [] {
        BOOL result = FALSE;
        return IsWow64Process(GetCurrentProcess(), &result) && result;
    }();
    return wow64;
}

} // namespace

const char* ViewName(View view) {
    return view == View::Bits64 ? "64-bit" : "32-bit";
}

std::vector<View> RegistryViews() {
    if (RunsUnderWow64())
        return {View::Bits32, View::Bits64};
    return {View::Bits32};
}

REGSAM ViewAccess(View view) {
    if (!RunsUnderWow64())
        return 0;
    return view == View::Bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

std::wstring NamedLibraryVersion(HKEY interfaceKey) {
    GUID named;
    std::optional<std::wstring> guid = ReadRegistryText(interfaceKey, std::wstring(L"TypeLib"), nullptr);
    std::optional<std::wstring> version =
        ReadRegistryText(interfaceKey, std::wstring(L"TypeLib"), L"Version");
    if (!guid || !version || !ParseGuid(*guid, named))
        return std::wstring();
    return GuidText(named) + L"\\" + *version;
}

std::wstring LibraryVersionName(const LibraryIdentity& identity) {
    return GuidText(identity.guid) + L"\\" + VersionKeyNameOf(identity);
}

bool NamesLibrary(HKEY interfaceKey, const LibraryIdentity& identity) {
    return EqualIgnoringCase(NamedLibraryVersion(interfaceKey), LibraryVersionName(identity));
}
