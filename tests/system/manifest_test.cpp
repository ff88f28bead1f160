// The application manifests that Windows reads from each program file before the program runs:
// elevation, visual styles, DPI awareness and the Windows versions the program declares it
// supports. Windows silently ignores an element in a wrong place or namespace, so each entry is
// looked up by its full path with the system's XML parser.
#include <gtest/gtest.h>

#include <windows.h>
#include <msxml2.h>
#include <string>
#include <vector>

#include "common/owners.h"
#include "common/text.h"
#include "tests/support/testsupport.h"

namespace {

// The MinGW import libraries do not define these two ids of the system's XML parser.
const CLSID kDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
const IID kXmlDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

const char kNamespaces[] = "xmlns:asm='urn:schemas-microsoft-com:asm.v1' "
                           "xmlns:v3='urn:schemas-microsoft-com:asm.v3' "
                           "xmlns:compat='urn:schemas-microsoft-com:compatibility.v1' "
                           "xmlns:ws='http://schemas.microsoft.com/SMI/2005/WindowsSettings'";

std::string ExecutionLevel(const char* level) {
    return std::string("/asm:assembly/v3:trustInfo/v3:security/v3:requestedPrivileges/"
                       "v3:requestedExecutionLevel[@level='") +
           level + "']";
}

// Windows Vista, 7, 8, 8.1, and 10 and 11 (one id).
std::vector<std::string> SupportedOsEntries() {
    std::vector<std::string> entries;
    for (const char* id : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        entries.push_back(
            std::string("/asm:assembly/compat:compatibility/compat:application/compat:supportedOS[@Id='") +
            id + "']");
    return entries;
}

struct ProgramManifest {
    const char* program;
    std::vector<std::string> entries; // XPath expressions, each of which must match exactly one node
};

std::vector<ProgramManifest> ExpectedManifests() {
    std::vector<ProgramManifest> programs = {
        {"Corvane.exe",
         {ExecutionLevel("highestAvailable"),
          "/asm:assembly/asm:dependency/asm:dependentAssembly/asm:assemblyIdentity[@type='win32' and "
          "@name='Microsoft.Windows.Common-Controls' and @version='6.0.0.0' and "
          "@publicKeyToken='6595b64144ccf1df']",
          "/asm:assembly/v3:application/v3:windowsSettings/ws:dpiAware[normalize-space(.)='true']"}},
        {"corvane-cli.exe", {ExecutionLevel("asInvoker")}},
    };
    for (ProgramManifest& program : programs)
        for (const std::string& entry : SupportedOsEntries())
            program.entries.push_back(entry);
    return programs;
}

// The text of resource 1 (CREATEPROCESS_MANIFEST_RESOURCE_ID) of type RT_MANIFEST, the one
// Windows reads when it creates the process; empty when there is none.
std::string ManifestResource(const std::string& path) {
    Module image(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!image)
        return std::string();
    HRSRC found = FindResourceA(image.Get(), MAKEINTRESOURCEA(1), RT_MANIFEST);
    HGLOBAL loaded = found ? LoadResource(image.Get(), found) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return bytes ? std::string(bytes, SizeofResource(image.Get(), found)) : std::string();
}

HRESULT SetProperty(IXMLDOMDocument2* document, const char* name, const char* value) {
    Bstr nameText = ToBstr(name);
    Bstr valueText = ToBstr(value);
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_BSTR;
    variant.bstrVal = valueText.Get(); // lent: valueText still owns it
    return document->setProperty(nameText.Get(), variant);
}

} // namespace

TEST(ProgramManifests, DeclareElevationVisualStylesDpiAwarenessAndSupportedSystems) {
    ComApartment apartment;
    for (const ProgramManifest& expected : ExpectedManifests()) {
        SCOPED_TRACE(expected.program);
        std::string path = testsupport::BesideTests(expected.program);
        std::string text = ManifestResource(path);
        ASSERT_FALSE(text.empty()) << "no RT_MANIFEST resource 1 in " << path;

        // Windows refuses to start a program whose manifest it cannot parse or whose
        // dependencies it cannot find; its own loader is the judge here.
        ACTCTXA request = {};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = path.c_str();
        request.lpResourceName = MAKEINTRESOURCEA(1);
        testsupport::ActivationContext context(CreateActCtxA(&request));
        EXPECT_TRUE(context) << "the system refused the manifest: error " << GetLastError();

        ComPtr<IXMLDOMDocument2> document;
        HRESULT hr = CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kXmlDomDocument2,
                                      document.PutVoid());
        ASSERT_EQ(S_OK, hr) << "the XML parser: " << std::hex << hr;
        VARIANT_BOOL parsed = VARIANT_FALSE;
        // Our manifests are plain ASCII, which every code page reads alike.
        ASSERT_EQ(S_OK, document->loadXML(ToBstr(text).Get(), &parsed));
        ASSERT_EQ(VARIANT_TRUE, parsed) << "not well-formed XML:\n" << text;
        ASSERT_EQ(S_OK, SetProperty(document.Get(), "SelectionLanguage", "XPath"));
        ASSERT_EQ(S_OK, SetProperty(document.Get(), "SelectionNamespaces", kNamespaces));

        for (const std::string& entry : expected.entries) {
            ComPtr<IXMLDOMNodeList> nodes;
            long count = -1;
            hr = document->selectNodes(ToBstr(entry).Get(), nodes.Put());
            if (SUCCEEDED(hr))
                hr = nodes->get_length(&count);
            EXPECT_EQ(S_OK, hr) << entry;
            EXPECT_EQ(1, count) << entry << "\nin:\n" << text;
        }
    }
}
