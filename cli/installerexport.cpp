// export --format wxs and --format manifest: what registering a library writes, as the source
// of an installer (a WiX fragment) and as a side-by-side assembly manifest through which a client
// uses the library with nothing registered. Both are read from the captured registration that the
// .reg file is written from, so the three forms state the same keys and values.
#include <algorithm>
#include <cwchar>
#include <iterator>

#include "cli/commands.h"
#include "common/paths.h"
#include "common/text.h"

namespace cli {

namespace {

const RegistryKeyEntry* FindKey(const RegistryTree& tree, const std::wstring& path) {
    for (const RegistryKeyEntry& key : tree)
        if (EqualIgnoringCase(key.path, path))
            return &key;
    return nullptr;
}

// The default value of tree's key path, when it is a string.
std::wstring DefaultText(const RegistryTree& tree, const std::wstring& path) {
    const RegistryKeyEntry* key = FindKey(tree, path);
    if (key)
        for (const RegistryValue& value : key->values)
            if (value.name.empty() && value.type == REG_SZ)
                return ValueText(value);
    return std::wstring();
}

// An XML document built element by element: Start, its attributes, then Open (children follow,
// up to Close) or End (an empty element). Attribute values are escaped; a value holding a
// character that XML 1.0 cannot carry at all (most control characters) spoils the document, and
// the writer's caller refuses it rather than write a file no parser reads.
class XmlText {
  public:
    explicit XmlText(const wchar_t* declaration) : text_(declaration) { text_ += L"\r\n"; }
    XmlText& Start(int depth, const wchar_t* name) {
        text_.append(depth * 2, L' ');
        text_ += L'<';
        text_ += name;
        return *this;
    }
    // The whole value, a NUL inside included (which XML cannot carry, so it is refused).
    XmlText& Attribute(const wchar_t* name, const std::wstring& value) {
        return Attribute(name, value.data(), value.data() + value.size());
    }
    XmlText& Attribute(const wchar_t* name, const wchar_t* value) {
        return Attribute(name, value, value + wcslen(value));
    }
    void Open() { text_ += L">\r\n"; }
    void End() { text_ += L" />\r\n"; }
    void Close(int depth, const wchar_t* name) {
        text_.append(depth * 2, L' ');
        text_ += L"</";
        text_ += name;
        text_ += L">\r\n";
    }
    // The first value XML could not carry, or "" when every one could.
    const std::wstring& Unwritable() const { return unwritable_; }
    std::string Bytes() const { return ToUtf8(text_); }

  private:
    XmlText& Attribute(const wchar_t* name, const wchar_t* begin, const wchar_t* end) {
        text_ += L' ';
        text_ += name;
        text_ += L"=\"";
        for (const wchar_t* c = begin; c != end; ++c)
            Escape(*c, begin, end);
        text_ += L'"';
        return *this;
    }
    void Escape(wchar_t c, const wchar_t* begin, const wchar_t* end) {
        // Line breaks and tabs as references too: a parser turns them into blanks otherwise.
        static const struct {
            wchar_t character;
            const wchar_t* reference;
        } kReferences[] = {{L'&', L"&amp;"}, {L'<', L"&lt;"},   {L'>', L"&gt;"},  {L'"', L"&quot;"},
                           {L'\t', L"&#9;"}, {L'\n', L"&#10;"}, {L'\r', L"&#13;"}};
        for (const auto& escaped : kReferences)
            if (c == escaped.character) {
                text_ += escaped.reference;
                return;
            }
        if ((c < 0x20 || c == 0xFFFE || c == 0xFFFF) && unwritable_.empty())
            unwritable_.assign(begin, end);
        text_ += c;
    }
    std::wstring text_;
    std::wstring unwritable_;
};

// The document's bytes into written, or the error of a value it could not carry.
void Finish(const XmlText& xml, InstallerExport& written) {
    if (!xml.Unwritable().empty())
        written.error =
            L"'" + xml.Unwritable() + L"' holds a control character, which an XML file cannot hold";
    else
        written.bytes = xml.Bytes();
}

// ---- What registration writes -----------------------------------------------------------------

// Keys below an interface's that registration of a library writes neither of; a key that has
// them gives their default values to the manifest, as these attributes.
const struct {
    const wchar_t* key;
    const wchar_t* attribute;
} kOptionalInterfaceKeys[] = {{L"NumMethods", L"numMethods"}, {L"BaseInterface", L"baseInterface"}};

// An interface that registration gives a key of its own, "Interface\{IID}".
struct RegisteredInterface {
    std::wstring iid;
    std::wstring name;                                        // the key's default value
    std::wstring typeLib;                                     // TypeLib's default value: the library's GUID
    std::wstring proxyStub;                                   // ProxyStubClsid32's
    std::wstring optional[std::size(kOptionalInterfaceKeys)]; // as kOptionalInterfaceKeys lists them
};

// What both formats are written from, read once from the captured registration.
struct Registered {
    LibraryIdentity identity;
    std::wstring guid;     // the library's GUID as registration names its key
    std::wstring filePath; // FILE's full path, as registration wrote it
    std::wstring fileName;
    int resourceIndex = 0;
    std::wstring helpDir; // the version key's HELPDIR
    std::wstring flags;   // its FLAGS, as hexadecimal text
    std::vector<RegisteredInterface> interfaces;
};

std::wstring FileNameOf(const std::wstring& path) {
    return path.substr(path.find_last_of(L"\\/") + 1);
}

Registered ReadRegistered(const OpenedFile& file, const RegistryTree& tree) {
    Registered registered;
    registered.identity = file.description.Identity();
    registered.guid = GuidText(registered.identity.guid);
    registered.filePath = file.location.filePath;
    registered.fileName = FileNameOf(file.location.filePath);
    registered.resourceIndex = file.location.resourceIndex;
    const std::wstring versionKey = VersionKeyOf(registered.identity);
    registered.helpDir = DefaultText(tree, versionKey + L"\\HELPDIR");
    registered.flags = DefaultText(tree, versionKey + L"\\FLAGS");
    for (const RegistryKeyEntry& key : tree) {
        if (!IsInterfaceKey(key.path) || std::count(key.path.begin(), key.path.end(), L'\\') != 1)
            continue;
        RegisteredInterface entry;
        entry.iid = key.path.substr(key.path.find(L'\\') + 1);
        entry.name = DefaultText(tree, key.path);
        entry.typeLib = DefaultText(tree, key.path + L"\\TypeLib");
        entry.proxyStub = DefaultText(tree, key.path + L"\\ProxyStubClsid32");
        for (size_t i = 0; i < std::size(kOptionalInterfaceKeys); ++i)
            entry.optional[i] = DefaultText(tree, key.path + L"\\" + kOptionalInterfaceKeys[i].key);
        registered.interfaces.push_back(std::move(entry));
    }
    return registered;
}

// ---- The manifest ---------------------------------------------------------------------------

// The manifest's names of the library flags registration writes in FLAGS, as hexadecimal text.
std::wstring LibraryFlagNames(const std::wstring& flagsText) {
    unsigned long flags = std::wcstoul(flagsText.c_str(), nullptr, 16);
    const std::pair<unsigned long, const wchar_t*> names[] = {{LIBFLAG_FRESTRICTED, L"RESTRICTED"},
                                                              {LIBFLAG_FCONTROL, L"CONTROL"},
                                                              {LIBFLAG_FHIDDEN, L"HIDDEN"},
                                                              {LIBFLAG_FHASDISKIMAGE, L"HASDISKIMAGE"}};
    std::wstring text;
    for (const auto& name : names)
        if (flags & name.first)
            text += (text.empty() ? L"" : L",") + std::wstring(name.second);
    return text;
}

InstallerExport WriteManifest(const Options& options, const Registered& registered, JsonObject& document) {
    InstallerExport written;
    const std::wstring& fileName = registered.fileName;
    std::wstring name =
        options.assemblyName.empty() ? fileName.substr(0, fileName.rfind(L'.')) : options.assemblyName;
    std::wstring helpDir = registered.helpDir, relative;
    // The manifest names the help folder relative to the assembly's own folder.
    if (PathWithin(helpDir, FolderOf(registered.filePath), &relative))
        helpDir = relative;
    XmlText xml(L"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>");
    xml.Start(0, L"assembly").Attribute(L"xmlns", L"urn:schemas-microsoft-com:asm.v1");
    xml.Attribute(L"manifestVersion", L"1.0").Open();
    xml.Start(1, L"assemblyIdentity").Attribute(L"type", L"win32").Attribute(L"name", name);
    xml.Attribute(L"version", L"1.0.0.0");
    xml.Attribute(L"processorArchitecture", registered.identity.syskind == SYS_WIN64 ? L"amd64" : L"x86")
        .End();
    xml.Start(1, L"file").Attribute(L"name", fileName).Open();
    xml.Start(2, L"typelib").Attribute(L"tlbid", registered.guid);
    xml.Attribute(L"version", VersionTextOf(registered.identity.major, registered.identity.minor))
        .Attribute(L"helpdir", helpDir);
    if (registered.resourceIndex > 1)
        xml.Attribute(L"resourceid", DecimalText(registered.resourceIndex));
    std::wstring flags = LibraryFlagNames(registered.flags);
    if (!flags.empty())
        xml.Attribute(L"flags", flags);
    xml.End();
    xml.Close(1, L"file");
    for (const RegisteredInterface& entry : registered.interfaces) {
        xml.Start(1, L"comInterfaceExternalProxyStub").Attribute(L"name", entry.name);
        xml.Attribute(L"iid", entry.iid);
        xml.Attribute(L"tlbid", entry.typeLib);
        xml.Attribute(L"proxyStubClsid32", entry.proxyStub);
        for (size_t i = 0; i < std::size(kOptionalInterfaceKeys); ++i)
            if (!entry.optional[i].empty())
                xml.Attribute(kOptionalInterfaceKeys[i].attribute, entry.optional[i]);
        xml.End();
    }
    xml.Close(0, L"assembly");
    Finish(xml, written);
    if (!written.error.empty())
        return written;
    document["assemblyName"] = Utf8(name);
    written.summary = L"the type library and " + DecimalText(registered.interfaces.size()) +
                      L" interfaces as the manifest of assembly " + name;
    return written;
}

// ---- WiX ------------------------------------------------------------------------------------

// A WiX identifier: a letter or underscore, then letters, digits, underscores and periods; at
// most 72 characters, the longest key the installer's tables take.
bool IsIdentifier(const std::wstring& text) {
    if (text.empty() || text.size() > 72)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        bool letter = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_';
        if (!letter && (i == 0 || !((c >= L'0' && c <= L'9') || c == L'.')))
            return false;
    }
    return true;
}

// Windows Installer reads registry keys, names and values as formatted text, in which square
// brackets reference properties: literal ones are written as [\[] and [\]].
std::wstring Formatted(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text)
        escaped += c == L'[' ? L"[\\[]" : c == L']' ? L"[\\]]" : std::wstring(1, c);
    return escaped;
}

// A GUID that stays the same for the same text: two FNV-1a hashes of its UTF-16 code units, with
// the bits that mark a GUID of custom content (version 8 of the layout GUIDs share).
GUID StableGuid(const std::wstring& text) {
    unsigned long long halves[2] = {0xCBF29CE484222325ull, 0x84222325CBF29CE4ull};
    for (unsigned long long& hash : halves)
        for (wchar_t c : text) {
            hash ^= static_cast<unsigned short>(c);
            hash *= 0x100000001B3ull;
        }
    GUID guid;
    guid.Data1 = static_cast<unsigned long>(halves[0] >> 32);
    guid.Data2 = static_cast<unsigned short>(halves[0] >> 16);
    guid.Data3 = static_cast<unsigned short>((halves[0] & 0x0FFF) | 0x8000);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<unsigned char>(halves[1] >> (56 - 8 * i));
    guid.Data4[0] = static_cast<unsigned char>((guid.Data4[0] & 0x3F) | 0x80);
    return guid;
}

// Where the installed library is: the paths registration wrote for the file in hand become
// references that Windows Installer resolves on the target machine, [#FileId] for the file and
// [DirectoryId] for its folder (which always ends in a backslash).
struct InstalledFile {
    std::wstring filePath; // as registration wrote it, the full path of FILE
    std::wstring fileId;   // the File element's id
    std::wstring directoryId;
};

std::wstring InstalledText(const std::wstring& value, const InstalledFile& file) {
    std::wstring rest;
    if (EqualIgnoringCase(value, file.filePath))
        return L"[#" + file.fileId + L"]";
    if (PathWithin(value, file.filePath, &rest)) // "lib.dll\2": a resource of the file
        return L"[#" + file.fileId + L"]\\" + Formatted(rest);
    if (PathWithin(value, FolderOf(file.filePath), &rest))
        return L"[" + file.directoryId + L"]" + Formatted(rest);
    return Formatted(value);
}

// The RegistryKey elements of keys; false with message when a key cannot be written so.
bool WriteKeys(XmlText& xml, const RegistryTree& tree, bool interfacesOnly, bool firstIsKeyPath,
               const InstalledFile& file, std::wstring& message) {
    bool keyPathGiven = !firstIsKeyPath;
    for (size_t i = 0; i < tree.size(); ++i) {
        const RegistryKeyEntry& key = tree[i];
        if (interfacesOnly && !IsInterfaceKey(key.path))
            continue;
        if (key.values.empty()) {
            // A key that only holds others is created with them; an empty key of its own has no
            // form that both toolsets take.
            if (i + 1 < tree.size() && tree[i + 1].path.rfind(key.path + L"\\", 0) == 0)
                continue;
            message =
                L"registration writes the empty key " + key.path + L", which a WiX fragment cannot hold";
            return false;
        }
        xml.Start(4, L"RegistryKey")
            .Attribute(L"Root", L"HKCR")
            .Attribute(L"Key", Formatted(key.path))
            .Open();
        for (const RegistryValue& value : key.values) {
            std::wstring text = ValueText(value);
            if ((value.type != REG_SZ && value.type != REG_EXPAND_SZ) || text.empty()) {
                // Windows Installer writes an empty value as no value at all.
                message = L"registration writes " + key.path + L"\\" +
                          (value.name.empty() ? L"@" : value.name) +
                          L" as a value a WiX fragment does not write (type " + DecimalText(value.type) +
                          (text.empty() ? L", empty)" : L")");
                return false;
            }
            xml.Start(5, L"RegistryValue")
                .Attribute(L"Type", value.type == REG_SZ ? L"string" : L"expandable");
            if (!value.name.empty())
                xml.Attribute(L"Name", Formatted(value.name));
            xml.Attribute(L"Value", InstalledText(text, file));
            if (!keyPathGiven)
                xml.Attribute(L"KeyPath", L"yes");
            keyPathGiven = true;
            xml.End();
        }
        xml.Close(4, L"RegistryKey");
    }
    return true;
}

// Ids from the library's identity, so that a fragment made again states the same ids.
std::wstring IdStem(const Registered& registered) {
    const LibraryIdentity& identity = registered.identity;
    std::wstring stem = registered.guid.substr(1, 36) + L"_" + DecimalText(identity.major) + L"_" +
                        DecimalText(identity.minor) + L"_" + DecimalText(identity.lcid) + L"_" +
                        SysKindName(identity.syskind);
    for (wchar_t& c : stem)
        if (c == L'-')
            c = L'_';
    return stem;
}

// The File element's Source: the file's name, in --source-dir when given.
std::wstring SourceOf(const std::wstring& folder, const std::wstring& fileName) {
    if (folder.empty())
        return fileName;
    // The folder's own separator: WiX on Windows takes '\', wixl on Linux '/'.
    wchar_t separator =
        folder.find(L'/') != std::wstring::npos && folder.find(L'\\') == std::wstring::npos ? L'/' : L'\\';
    return folder + (folder.back() == L'/' || folder.back() == L'\\' ? L"" : std::wstring(1, separator)) +
           fileName;
}

InstallerExport WriteWixFragment(const Options& options, const Registered& registered,
                                 const RegistryTree& tree, JsonObject& document) {
    InstallerExport written;
    if (!IsIdentifier(options.directoryId)) {
        written.error =
            L"'" + options.directoryId +
            L"' is not a directory id (expected letters, digits, '_' and '.', starting with a letter "
            L"or '_', at most 72 characters)";
        return written;
    }
    const std::wstring stem = IdStem(registered);
    InstalledFile installed = {registered.filePath, L"TypeLibFile_" + stem, options.directoryId};
    std::wstring group = L"TypeLib_" + stem, component = L"TypeLib_" + stem,
                 component64 = L"Interfaces64_" + stem;
    int bitness = ExportBitness(options);
    bool separate64 = bitness == 64 && !registered.interfaces.empty();
    std::wstring source = SourceOf(options.sourceDir, registered.fileName);

    XmlText xml(L"<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    xml.Start(0, L"Wix").Attribute(L"xmlns", L"http://schemas.microsoft.com/wix/2006/wi").Open();
    xml.Start(1, L"Fragment").Open();
    xml.Start(2, L"DirectoryRef").Attribute(L"Id", options.directoryId).Open();
    xml.Start(3, L"Component")
        .Attribute(L"Id", component)
        .Attribute(L"Guid", GuidText(StableGuid(component)))
        .Open();
    xml.Start(4, L"File").Attribute(L"Id", installed.fileId).Attribute(L"Name", registered.fileName);
    xml.Attribute(L"Source", source).Attribute(L"KeyPath", L"yes").End();
    if (!WriteKeys(xml, tree, false, false, installed, written.error))
        return written;
    xml.Close(3, L"Component");
    if (separate64) {
        // The 64-bit view's interface keys: a component marked 64-bit writes into that view, the
        // other one, like every 32-bit component on 64-bit Windows, into the 32-bit view.
        xml.Start(3, L"Component").Attribute(L"Id", component64);
        xml.Attribute(L"Guid", GuidText(StableGuid(component64))).Attribute(L"Win64", L"yes").Open();
        // Every interface key was written above already, so this cannot fail; checked all the
        // same, so that a fragment is never written with a component cut short.
        if (!WriteKeys(xml, tree, true, true, installed, written.error))
            return written;
        xml.Close(3, L"Component");
    }
    xml.Close(2, L"DirectoryRef");
    xml.Start(2, L"ComponentGroup").Attribute(L"Id", group).Open();
    xml.Start(3, L"ComponentRef").Attribute(L"Id", component).End();
    if (separate64)
        xml.Start(3, L"ComponentRef").Attribute(L"Id", component64).End();
    xml.Close(2, L"ComponentGroup");
    xml.Close(1, L"Fragment");
    xml.Close(0, L"Wix");
    Finish(xml, written);
    if (!written.error.empty())
        return written;
    document["bitness"] = bitness;
    document["componentGroup"] = Utf8(group);
    document["directory"] = Utf8(options.directoryId);
    document["source"] = Utf8(source);
    written.summary = DecimalText(tree.size()) + L" keys as WiX component group " + group + L" for " +
                      DecimalText(bitness) + L"-bit Windows";
    return written;
}

} // namespace

InstallerExport ExportForInstaller(const Options& options, const OpenedFile& file, const RegistryTree& tree,
                                   JsonObject& document) {
    const Registered registered = ReadRegistered(file, tree);
    document["format"] = Utf8(ExportFormatName(options.format));
    document["keys"] = tree.size();
    document["interfaces"] = registered.interfaces.size();
    return options.format == ExportFormat::Manifest ? WriteManifest(options, registered, document)
                                                    : WriteWixFragment(options, registered, tree, document);
}

} // namespace cli
