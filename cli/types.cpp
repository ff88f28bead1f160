// types: the command, the names of kinds and flags, the outline and the JSON document.
#include "cli/types.h"

#include <iterator>

#include "catalogue/typelibfacts.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "common/files.h"
#include "common/text.h"

namespace cli {

using reader::MemberContent;
using reader::ParameterContent;
using reader::TypeContent;

// Constant tables: no code runs to build them. The names are the IDL attributes; where idl is
// false, IDL has no attribute for the flag (widl sets it from other facts, or never).
const FlagName kTypeFlagNames[] = {
    {TYPEFLAG_FAPPOBJECT, "appobject", true},
    {TYPEFLAG_FCANCREATE, "cancreate", false},
    {TYPEFLAG_FLICENSED, "licensed", true},
    {TYPEFLAG_FPREDECLID, "predeclid", false},
    {TYPEFLAG_FHIDDEN, "hidden", true},
    {TYPEFLAG_FCONTROL, "control", true},
    {TYPEFLAG_FDUAL, "dual", true},
    {TYPEFLAG_FNONEXTENSIBLE, "nonextensible", true},
    {TYPEFLAG_FOLEAUTOMATION, "oleautomation", true},
    {TYPEFLAG_FRESTRICTED, "restricted", true},
    {TYPEFLAG_FAGGREGATABLE, "aggregatable", true},
    {TYPEFLAG_FREPLACEABLE, "replaceable", false},
    {TYPEFLAG_FDISPATCHABLE, "dispatchable", false},
    {TYPEFLAG_FREVERSEBIND, "reversebind", false},
    {TYPEFLAG_FPROXY, "proxy", false},
};
const FlagName kFunctionFlagNames[] = {
    {FUNCFLAG_FRESTRICTED, "restricted", true},
    {FUNCFLAG_FSOURCE, "source", true},
    {FUNCFLAG_FBINDABLE, "bindable", true},
    {FUNCFLAG_FREQUESTEDIT, "requestedit", true},
    {FUNCFLAG_FDISPLAYBIND, "displaybind", true},
    {FUNCFLAG_FDEFAULTBIND, "defaultbind", true},
    {FUNCFLAG_FHIDDEN, "hidden", true},
    {FUNCFLAG_FUSESGETLASTERROR, "usesgetlasterror", true},
    {FUNCFLAG_FDEFAULTCOLLELEM, "defaultcollelem", true},
    {FUNCFLAG_FUIDEFAULT, "uidefault", true},
    {FUNCFLAG_FNONBROWSABLE, "nonbrowsable", true},
    {FUNCFLAG_FREPLACEABLE, "replaceable", false},
    {FUNCFLAG_FIMMEDIATEBIND, "immediatebind", true},
};
const FlagName kVariableFlagNames[] = {
    {VARFLAG_FREADONLY, "readonly", true},
    {VARFLAG_FSOURCE, "source", true},
    {VARFLAG_FBINDABLE, "bindable", true},
    {VARFLAG_FREQUESTEDIT, "requestedit", true},
    {VARFLAG_FDISPLAYBIND, "displaybind", true},
    {VARFLAG_FDEFAULTBIND, "defaultbind", true},
    {VARFLAG_FHIDDEN, "hidden", true},
    {VARFLAG_FRESTRICTED, "restricted", true},
    {VARFLAG_FDEFAULTCOLLELEM, "defaultcollelem", true},
    {VARFLAG_FUIDEFAULT, "uidefault", true},
    {VARFLAG_FNONBROWSABLE, "nonbrowsable", true},
    {VARFLAG_FREPLACEABLE, "replaceable", false},
    {VARFLAG_FIMMEDIATEBIND, "immediatebind", true},
};
const FlagName kParameterFlagNames[] = {
    {PARAMFLAG_FIN, "in", true},         {PARAMFLAG_FOUT, "out", true},      {PARAMFLAG_FLCID, "lcid", true},
    {PARAMFLAG_FRETVAL, "retval", true}, {PARAMFLAG_FOPT, "optional", true},
};
const FlagName kImplementedFlagNames[] = {
    {IMPLTYPEFLAG_FDEFAULT, "default", true},
    {IMPLTYPEFLAG_FSOURCE, "source", true},
    {IMPLTYPEFLAG_FRESTRICTED, "restricted", true},
    {IMPLTYPEFLAG_FDEFAULTVTABLE, "defaultvtable", true},
};
const FlagName kLibraryFlagNames[] = {
    {LIBFLAG_FRESTRICTED, "restricted", true},
    {LIBFLAG_FCONTROL, "control", true},
    {LIBFLAG_FHIDDEN, "hidden", true},
};

const FlagTable kTypeFlags = {std::begin(kTypeFlagNames), std::end(kTypeFlagNames)};
const FlagTable kFunctionFlags = {std::begin(kFunctionFlagNames), std::end(kFunctionFlagNames)};
const FlagTable kVariableFlags = {std::begin(kVariableFlagNames), std::end(kVariableFlagNames)};
const FlagTable kParameterFlags = {std::begin(kParameterFlagNames), std::end(kParameterFlagNames)};
const FlagTable kImplementedFlags = {std::begin(kImplementedFlagNames), std::end(kImplementedFlagNames)};
const FlagTable kLibraryFlags = {std::begin(kLibraryFlagNames), std::end(kLibraryFlagNames)};

void Append(std::string& out, std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts)
        out.append(part.data(), part.size());
}

void AppendFlags(std::string& out, uint32_t flags, const FlagTable& names, bool idlOnly,
                 const char* separator) {
    bool first = true;
    for (const FlagName& name : names)
        if ((flags & name.bit) && (name.idl || !idlOnly)) {
            if (!first)
                out += separator;
            out += name.name;
            first = false;
        }
}

const char* KindName(uint32_t kind) {
    static const char* const kNames[TKIND_MAX] = {"enum",          "record",  "module", "interface",
                                                  "dispinterface", "coclass", "alias",  "union"};
    return kind < TKIND_MAX ? kNames[kind] : "unknown";
}

const char* InvokeName(uint32_t invokeKind) {
    switch (invokeKind) {
    case INVOKE_PROPERTYGET:
        return "propget";
    case INVOKE_PROPERTYPUT:
        return "propput";
    case INVOKE_PROPERTYPUTREF:
        return "propputref";
    }
    return "func";
}

const char* CallingConventionName(uint32_t convention) {
    static const char* const kNames[CC_MAX] = {"fastcall",   "cdecl",   "pascal",   "macpascal", "stdcall",
                                               "fpfastcall", "syscall", "mpwcdecl", "mpwpascal"};
    return convention < CC_MAX ? kNames[convention] : "unknown";
}

std::vector<std::wstring> LibraryPaths(const std::wstring& file, const LibraryDescription& description) {
    std::vector<std::wstring> paths;
    for (WORD number : description.resources)
        paths.push_back(file + L"\\" + DecimalText(number));
    return paths;
}

std::string Declaration(const std::string& type, const std::string& name) {
    size_t bounds = type.find('[');
    if (bounds == std::string::npos)
        return type + " " + name;
    // A bound of 0 is an open array, whose IDL has no number.
    std::string declaration = type.substr(0, bounds) + " " + name + type.substr(bounds);
    for (size_t open; (open = declaration.find("[0]")) != std::string::npos;)
        declaration.erase(open + 1, 1);
    return declaration;
}

std::string Signature(const MemberContent& function,
                      const std::function<std::string(const std::string&)>& idlType) {
    // The optional attributes left for parameters with a default value, once those without one
    // (which need theirs) are counted.
    int32_t optionalLeft = function.optionalCount;
    for (const ParameterContent& parameter : function.parameters)
        optionalLeft -= (parameter.flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) == PARAMFLAG_FOPT;
    std::string text = (idlType ? idlType(function.type) : function.type) + " " + function.name + "(";
    for (size_t i = 0; i < function.parameters.size(); ++i) {
        const ParameterContent& parameter = function.parameters[i];
        if (i > 0)
            text += ", ";
        uint32_t flags = parameter.flags;
        if (idlType && (flags & PARAMFLAG_FHASDEFAULT) && (flags & PARAMFLAG_FOPT) && optionalLeft-- <= 0)
            flags &= ~PARAMFLAG_FOPT;
        std::string attributes;
        AppendFlags(attributes, flags, kParameterFlags, true);
        if (parameter.flags & PARAMFLAG_FHASDEFAULT)
            Append(attributes,
                   {(attributes.empty() ? "defaultvalue(" : ", defaultvalue("), parameter.defaultValue, ")"});
        if (!attributes.empty())
            Append(text, {"[", attributes, "] "});
        text += Declaration(idlType ? idlType(parameter.type) : parameter.type,
                            parameter.name.empty() ? "p" + DecimalAnsi(i) : parameter.name);
    }
    return text + ")";
}

namespace {

std::string Version(uint16_t major, uint16_t minor) {
    return VersionText(major, minor);
}

std::string Guid(const GUID& guid) {
    return ToAnsi(GuidText(guid));
}

// ---- The JSON document, written as it goes ---------------------------------------------------

void Flags(JsonWriter& json, const char* key, uint32_t flags, const FlagTable& names) {
    json.Key(key);
    json.Open('[');
    for (const FlagName& name : names)
        if (flags & name.bit)
            json.Text(name.name);
    json.Close(']');
}

void MemberJson(JsonWriter& json, const MemberContent& member, uint32_t typeKind) {
    json.Open('{');
    json.Field("name", member.name);
    json.Field("id", member.id);
    if (member.isFunction) {
        json.Field("member", "function");
        json.Field("invoke", InvokeName(member.invokeKind));
        if (member.functionKind != FUNC_DISPATCH)
            json.Field("vtableOffset", member.vtableOffset);
        json.Field("callconv", CallingConventionName(member.callingConvention));
        json.Field("returns", member.type);
        Flags(json, "flags", member.flags, kFunctionFlags);
        if (member.optionalCount == -1)
            json.Field("vararg", 1);
        if (!member.entry.empty())
            json.Field("entry", member.entry);
        json.Key("parameters");
        json.Open('[');
        for (const ParameterContent& parameter : member.parameters) {
            json.Open('{');
            json.Field("name", parameter.name);
            json.Field("type", parameter.type);
            Flags(json, "flags", parameter.flags, kParameterFlags);
            if (parameter.flags & PARAMFLAG_FHASDEFAULT)
                json.Field("defaultvalue", parameter.defaultValue);
            json.Close('}');
        }
        json.Close(']');
    } else {
        json.Field("member", member.variableKind == VAR_CONST ? "constant"
                             : typeKind == TKIND_DISPATCH     ? "property"
                                                              : "field");
        json.Field("type", member.type);
        if (member.variableKind == VAR_PERINSTANCE)
            json.Field("offset", member.offset);
        Flags(json, "flags", member.flags, kVariableFlags);
        if (member.variableKind == VAR_CONST)
            json.Field("value", member.value);
    }
    json.Field("documentation", member.documentation);
    json.Field("helpContext", member.helpContext);
    json.Close('}');
}

void TypeJson(JsonWriter& json, const TypeContent& type) {
    json.Open('{');
    json.Field("kind", KindName(type.kind));
    json.Field("name", type.name);
    json.Field("guid", Guid(type.guid));
    json.Field("version", Version(type.major, type.minor));
    json.Field("documentation", type.documentation);
    json.Field("helpContext", type.helpContext);
    Flags(json, "flags", type.flags, kTypeFlags);
    if (type.kind == TKIND_RECORD || type.kind == TKIND_UNION) {
        json.Field("size", type.size);
        json.Field("alignment", type.alignment);
    }
    if (type.kind == TKIND_ALIAS)
        json.Field("aliasOf", type.aliasOf);
    if (type.kind == TKIND_MODULE)
        json.Field("dllname", type.dllName);
    if ((type.kind == TKIND_INTERFACE || type.kind == TKIND_DISPATCH) && !type.implemented.empty())
        json.Field("base", type.implemented.front().name);
    if (type.kind == TKIND_COCLASS) {
        json.Key("interfaces");
        json.Open('[');
        for (const reader::ImplementedContent& implemented : type.implemented) {
            json.Open('{');
            json.Field("name", implemented.name);
            Flags(json, "flags", implemented.flags, kImplementedFlags);
            json.Close('}');
        }
        json.Close(']');
    }
    json.Key("members");
    json.Open('[');
    for (const MemberContent& member : type.members)
        MemberJson(json, member, type.kind);
    json.Close(']');
    json.Close('}');
}

// ---- The outline -----------------------------------------------------------------------------

void Bracketed(std::string& out, const std::string& attributes) {
    if (!attributes.empty())
        Append(out, {"  [", attributes, "]"});
}

void MemberText(std::string& out, const MemberContent& member) {
    std::string attributes = "id " + UpperHex(static_cast<uint32_t>(member.id));
    out += "    ";
    if (member.isFunction) {
        if (member.invokeKind != INVOKE_FUNC)
            Append(attributes, {", ", InvokeName(member.invokeKind)});
        if (member.functionKind != FUNC_DISPATCH)
            Append(attributes, {", vtable ", DecimalAnsi(static_cast<uint32_t>(member.vtableOffset)), ", ",
                                CallingConventionName(member.callingConvention)});
        if (member.optionalCount == -1)
            attributes += ", vararg";
        if (!member.entry.empty())
            Append(attributes, {", entry ", member.entry});
        AppendFlags(attributes += member.flags ? ", " : "", member.flags, kFunctionFlags, false);
        out += Signature(member);
    } else {
        AppendFlags(attributes += member.flags ? ", " : "", member.flags, kVariableFlags, false);
        out += Declaration(member.type, member.name);
        if (member.variableKind == VAR_CONST)
            Append(out, {" = ", member.value});
    }
    Bracketed(out, attributes);
    out += '\n';
    if (!member.documentation.empty())
        Append(out, {"        ", member.documentation, "\n"});
}

void TypeText(std::string& out, const TypeContent& type) {
    Append(out, {"\n", KindName(type.kind), " ", type.name});
    if (type.kind == TKIND_ALIAS)
        Append(out, {" = ", type.aliasOf});
    if ((type.kind == TKIND_INTERFACE || type.kind == TKIND_DISPATCH) && !type.implemented.empty())
        Append(out, {" : ", type.implemented.front().name});
    if (!IsEqualGUID(type.guid, GUID_NULL))
        Append(out, {"  ", Guid(type.guid)});
    if (type.major || type.minor)
        Append(out, {"  ", Version(type.major, type.minor)});
    std::string attributes;
    AppendFlags(attributes, type.flags, kTypeFlags, false);
    Bracketed(out, attributes);
    out += '\n';
    if (!type.documentation.empty())
        Append(out, {"    ", type.documentation, "\n"});
    if (!type.dllName.empty())
        Append(out, {"    in ", type.dllName, "\n"});
    if (type.kind == TKIND_COCLASS)
        for (const reader::ImplementedContent& implemented : type.implemented) {
            Append(out, {"    ", implemented.name});
            std::string flags;
            AppendFlags(flags, implemented.flags, kImplementedFlags, false);
            Bracketed(out, flags);
            out += '\n';
        }
    for (const MemberContent& member : type.members)
        MemberText(out, member);
}

} // namespace

std::string TypesJson(const TypesSource& source) {
    const LibraryDescription& description = source.description;
    JsonWriter json;
    json.out.reserve(source.content.types.size() * 2048);
    json.Open('{');
    json.Key("library");
    json.Open('{');
    json.Field("name", ToUtf8(description.name));
    json.Field("guid", Guid(description.guid));
    json.Field("version", Version(description.major, description.minor));
    json.Field("lcid", description.lcid);
    json.Field("syskind", ToUtf8(SysKindName(description.syskind)));
    json.Field("documentation", ToUtf8(description.documentation));
    json.Field("helpFile", source.content.helpFile);
    json.Field("helpContext", source.content.helpContext);
    Flags(json, "flags", description.flags, kLibraryFlags);
    json.Field("file", ToUtf8(source.file));
    json.Key("libraries");
    json.Open('[');
    for (const std::wstring& path : LibraryPaths(source.file, description))
        json.Text(ToUtf8(path));
    json.Close(']');
    json.Close('}');
    json.Key("imports");
    json.Open('[');
    for (const reader::ImportContent& import : source.content.imports) {
        json.Open('{');
        json.Field("name", import.name);
        json.Field("guid", Guid(import.guid));
        json.Field("version", Version(import.major, import.minor));
        json.Field("file", import.file);
        json.Close('}');
    }
    json.Close(']');
    json.Key("types");
    json.Open('[');
    for (const TypeContent& type : source.content.types)
        TypeJson(json, type);
    json.Close(']');
    if (source.confinement) {
        json.Key("reader");
        json.Written(Json(ConfinementJson(*source.confinement)).Text());
    }
    json.Close('}');
    json.out += '\n';
    return std::move(json.out);
}

std::string TypesText(const TypesSource& source) {
    const LibraryDescription& description = source.description;
    std::string out = "library " + ToUtf8(description.name) + "  " + Guid(description.guid) + "  " +
                      Version(description.major, description.minor) + "  lcid " +
                      DecimalAnsi(description.lcid) + "  " + ToUtf8(SysKindName(description.syskind));
    std::string flags;
    AppendFlags(flags, description.flags, kLibraryFlags, false);
    Bracketed(out, flags);
    out += "\n";
    if (!description.documentation.empty())
        Append(out, {"    ", ToUtf8(description.documentation), "\n"});
    std::vector<std::wstring> paths = LibraryPaths(source.file, description);
    if (!paths.empty()) {
        out += "    libraries in the file:";
        for (const std::wstring& path : paths)
            Append(out, {" ", ToUtf8(path)});
        out += "\n";
    }
    for (const reader::ImportContent& import : source.content.imports)
        Append(out, {"    imports ", import.name, "  ", Guid(import.guid), "  ",
                     Version(import.major, import.minor), "  (", import.file, ")\n"});
    Append(out, {"    ", DecimalAnsi(source.content.types.size()), " types\n"});
    for (const TypeContent& type : source.content.types)
        TypeText(out, type);
    return out;
}

Result Types(const Options& options) {
    Result result;
    TypesSource source;
    std::optional<OpenedFile> file = OpenFile("types", options.file, result, &source.content);
    if (!file)
        return result;
    source.file = file->location.filePath;
    source.description = std::move(file->description);
    source.confinement = reader::LastConfinement();
    std::string bytes = options.idl ? TypesIdl(source) : options.json ? TypesJson(source) : TypesText(source);
    if (options.outFile.empty()) {
        if (options.json || options.idl)
            result.bytes = std::move(bytes);
        else
            result.text = FromUtf8(bytes);
        return result;
    }
    HRESULT hr = WriteWholeFile(options.outFile, bytes);
    if (FAILED(hr)) {
        JsonObject document;
        document["command"] = "types";
        return Failure(std::move(document),
                       L"cannot write '" + options.outFile + L"': error " + ResultCodeText(hr));
    }
    result.text =
        L"written: " + IdentityText(source.description.Identity()) + L" -> " + options.outFile + L"\n";
    return result;
}

} // namespace cli
