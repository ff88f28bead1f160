// types --idl: the library as IDL source that an IDL compiler turns back into a library with the
// same identity and types. Written from the meaning of the type-description structures: each
// type info becomes the IDL construct that produces it, each flag the attribute that sets it.
#include <algorithm>
#include <string_view>

#include "catalogue/typelibfacts.h"
#include "cli/types.h"
#include "common/text.h"

namespace cli {

namespace {

using reader::ImplementedContent;
using reader::MemberContent;
using reader::TypeContent;

// The automation types that IDL names but that no library defines, declared before the library
// block so that the compiler knows them; it maps them to their VARTYPEs by name. IUnknown and
// IDispatch get their whole vtables, so that the offsets of the methods after them come out
// right.
constexpr const char* kPreamble[][2] = {
    {"HRESULT", "typedef long HRESULT;\n"},
    {"SCODE", "typedef long SCODE;\n"},
    {"VARIANT_BOOL", "typedef short VARIANT_BOOL;\n"},
    {"DATE", "typedef double DATE;\n"},
    {"BSTR", "typedef unsigned short* BSTR;\n"},
    {"LPSTR", "typedef [string] char* LPSTR;\n"},
    {"LPWSTR", "typedef [string] unsigned short* LPWSTR;\n"},
    {"INT_PTR", "typedef long INT_PTR;\n"},
    {"UINT_PTR", "typedef unsigned long UINT_PTR;\n"},
    {"CURRENCY", "typedef struct tagCY { hyper int64; } CURRENCY;\n"},
    {"DECIMAL", "typedef struct tagDEC { unsigned short wReserved; unsigned char scale; unsigned char sign; "
                "unsigned long Hi32; unsigned hyper Lo64; } DECIMAL;\n"},
    {"VARIANT", "typedef struct tagVARIANT { unsigned short vt; unsigned short r1; unsigned short r2; "
                "unsigned short r3; hyper value; } VARIANT;\n"},
    {"GUID", "typedef struct _GUID { unsigned long Data1; unsigned short Data2; unsigned short Data3; "
             "unsigned char Data4[8]; } GUID;\n"},
    {"IUnknown", "[object, uuid(00000000-0000-0000-C000-000000000046)]\ninterface IUnknown {\n"
                 "    HRESULT QueryInterface([in] GUID* riid, [out, iid_is(riid)] void** object);\n"
                 "    unsigned long AddRef();\n    unsigned long Release();\n}\n"},
    {"IDispatch",
     "[object, uuid(00020400-0000-0000-C000-000000000046)]\ninterface IDispatch : IUnknown {\n"
     "    HRESULT GetTypeInfoCount([out] unsigned int* count);\n"
     "    HRESULT GetTypeInfo([in] unsigned int index, [in] unsigned long lcid, [out] IUnknown** info);\n"
     "    HRESULT GetIDsOfNames([in] GUID* riid, [in] long* names, [in] unsigned int count, "
     "[in] unsigned long lcid, [out] long* ids);\n"
     "    HRESULT Invoke([in] long id, [in] GUID* riid, [in] unsigned long lcid, "
     "[in] unsigned short flags, [in] long* params, [out] VARIANT* result, [out] long* exception, "
     "[out] unsigned int* argument);\n}\n"},
};

// Text inside an IDL string: quotes and backslashes escaped.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string HexNumber(uint32_t value) {
    return "0x" + UpperHex(value, 8);
}

// The identifiers in a type's text ("SAFEARRAY(IFoo*)" gives SAFEARRAY and IFoo).
template <class Each> void Identifiers(const std::string& type, Each each) {
    size_t at = 0;
    while (at < type.size()) {
        size_t start = type.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_", at);
        if (start == std::string::npos)
            return;
        size_t end =
            type.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789", start);
        each(type.substr(start, end == std::string::npos ? std::string::npos : end - start));
        at = end;
    }
}

class IdlWriter {
  public:
    explicit IdlWriter(const TypesSource& source) : source_(source) {
        const std::vector<TypeContent>& types = source.content.types;
        for (size_t i = 0; i < types.size(); ++i)
            own_.push_back({types[i].name, i});
        // By name, and for one name in file order: the first type of a name is the one found.
        std::stable_sort(own_.begin(), own_.end(),
                         [](const Named& a, const Named& b) { return a.first < b.first; });
    }

    std::string Write() {
        const LibraryDescription& description = source_.description;
        out_ = "// " + ToUtf8(source_.file) + ": written by corvane-cli types --idl\n\n";
        Preamble();
        std::string attributes = "uuid(" + Uuid(description.guid) + "), version(" +
                                 VersionText(description.major, description.minor) + ")";
        if (description.lcid)
            Append(attributes, {", lcid(", HexNumber(description.lcid), ")"});
        if (description.hasDocumentation)
            Append(attributes, {", helpstring(", Quoted(ToUtf8(description.documentation)), ")"});
        if (!source_.content.helpFile.empty())
            Append(attributes, {", helpfile(", Quoted(source_.content.helpFile), ")"});
        if (source_.content.helpContext)
            Append(attributes, {", helpcontext(", HexNumber(source_.content.helpContext), ")"});
        Flags(attributes, description.flags, kLibraryFlags);
        Append(out_, {"[\n    ", attributes, "\n]\nlibrary ", ToUtf8(description.name), "\n{\n"});
        for (const reader::ImportContent& import : source_.content.imports)
            Append(out_, {"    importlib(", Quoted(import.file), ");\n"});
        size_t count = source_.content.types.size();
        written_.assign(count, false);
        finished_.assign(count, false);
        plain_.assign(count, kUnknown);
        // The types that name no interface come first, before any interface is declared: widl
        // loses the uses of a public alias (they read back as a reference to nothing) when the
        // interface that uses it was declared before the alias.
        for (size_t i = 0; i < count; ++i)
            if (Plain(i))
                Type(i);
        // Interfaces may refer to one another in any order: each is declared before any is written.
        for (const TypeContent& type : source_.content.types)
            if (type.kind == TKIND_INTERFACE || type.kind == TKIND_DISPATCH)
                Append(out_, {"    ", (type.kind == TKIND_INTERFACE ? "interface " : "dispinterface "),
                              type.name, ";\n"});
        for (size_t i = 0; i < count; ++i)
            Type(i);
        out_ += "};\n";
        return std::move(out_);
    }

  private:
    static std::string Uuid(const GUID& guid) {
        std::string text = ToAnsi(GuidText(guid));
        return text.substr(1, text.size() - 2);
    }

    static void Flags(std::string& attributes, uint32_t flags, const FlagTable& names) {
        std::string named;
        AppendFlags(named, flags, names, true);
        if (!named.empty())
            Append(attributes, {(attributes.empty() ? "" : ", "), named});
    }

    static void Documented(std::string& attributes, const std::string& documentation, uint32_t helpContext) {
        if (!documentation.empty())
            Append(attributes, {", helpstring(", Quoted(documentation), ")"});
        if (helpContext)
            Append(attributes, {", helpcontext(", HexNumber(helpContext), ")"});
    }

    // The declarations the library's own and imported types need, before the library block:
    // an imported type is declared under its name (its definition comes from its library).
    void Preamble() {
        // What comes before the library block can use only what is declared before it: where the
        // library defines GUID or IUnknown itself (inside the block), the declarations here do
        // without them. A GUID pointer becomes a pointer to bytes, and an interface that would derive
        // from IUnknown gets IUnknown's three slots as its own, so that the offsets stay.
        bool ownGuid = false;
        for (const auto& entry : kPreamble)
            ownGuid = ownGuid || (std::string_view(entry[0]) == "GUID" && Defined(entry));
        const std::string base =
            Own("IUnknown") == kNone
                ? std::string(" : IUnknown {\n")
                : std::string(" {\n    HRESULT Slot0();\n    HRESULT Slot1();\n    HRESULT Slot2();\n");
        // Declarations the library does not use cost nothing: widl writes only what it refers to.
        for (const auto& entry : kPreamble) {
            if (Defined(entry))
                continue;
            std::string text = entry[1];
            for (size_t at; ownGuid && (at = text.find("GUID*")) != std::string::npos;)
                text.replace(at, 4, "unsigned char");
            constexpr std::string_view kInterfaceOut = ", iid_is(riid)] void";
            for (size_t at; ownGuid && (at = text.find(kInterfaceOut)) != std::string::npos;)
                text.replace(at, kInterfaceOut.size(), "] unsigned char");
            size_t info = text.find("IUnknown** info");
            if (info != std::string::npos && Own("IUnknown") != kNone)
                text.replace(info, 10, "long*");
            size_t derived = text.find(" : IUnknown {\n");
            if (derived != std::string::npos)
                text.replace(derived, 14, base);
            out_ += text;
        }
        for (const reader::ImportedTypeContent& type : source_.content.importedTypes) {
            if (Own(type.name) != kNone || IsPreamble(type.name))
                continue;
            if (type.kind == TKIND_INTERFACE) {
                // The slots it adds after IUnknown's three keep the offsets of derived methods.
                Append(out_, {"[object, uuid(", Uuid(type.guid), ")]\ninterface ", type.name, base});
                for (uint32_t slot = 3; slot < type.vtableSize / 4; ++slot)
                    Append(out_, {"    HRESULT Slot", DecimalAnsi(slot), "();\n"});
                out_ += "}\n";
            } else if (type.kind == TKIND_DISPATCH) {
                Append(out_, {"[uuid(", Uuid(type.guid), ")]\ndispinterface ", type.name,
                              " {\nproperties:\nmethods:\n}\n"});
            } else if (type.kind == TKIND_COCLASS) {
                Append(out_, {"[uuid(", Uuid(type.guid), ")]\ncoclass ", type.name, " { }\n"});
            } else {
                // Public, so that a use of it is a reference to the type, which widl then finds
                // in the imported library by name; without, a use would be a long.
                Append(out_, {"typedef [public] long ", type.name, ";\n"});
            }
        }
        out_ += "\n";
    }

    // Whether the library defines a preamble entry's type itself, under its name or its tag.
    bool Defined(const char* const (&entry)[2]) const {
        std::string_view text = entry[1];
        size_t tag = text.find("struct ");
        if (tag != std::string_view::npos) {
            tag += 7;
            if (Own(text.substr(tag, text.find(' ', tag) - tag)) != kNone)
                return true;
        }
        return Own(entry[0]) != kNone;
    }

    static bool IsPreamble(const std::string& name) {
        for (const auto& entry : kPreamble)
            if (name == entry[0])
                return true;
        return false;
    }

    // Writes the type at index after the types it needs defined first: its base interface, and
    // the records, unions, enumerations and aliases it uses.
    void Type(size_t index) {
        const TypeContent& type = source_.content.types[index];
        // IDL declares a name once: a second type of the same name (widl writes some aliases
        // once per use) is left out.
        if (written_[index] || Own(type.name) != index)
            return;
        written_[index] = true;
        auto need = [&](const std::string& text) {
            Identifiers(text, [&](const std::string& name) {
                size_t found = Own(name);
                if (found != kNone && found != index) {
                    uint32_t kind = source_.content.types[found].kind;
                    if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH && kind != TKIND_COCLASS)
                        Type(found);
                }
            });
        };
        need(type.aliasOf);
        for (const MemberContent& member : type.members) {
            need(member.type);
            for (const reader::ParameterContent& parameter : member.parameters)
                need(parameter.type);
        }
        if (type.kind == TKIND_INTERFACE && !type.implemented.empty()) {
            size_t base = Own(type.implemented.front().name);
            if (base != kNone)
                Type(base);
        }
        out_ += "\n";
        switch (type.kind) {
        case TKIND_ENUM:
        case TKIND_RECORD:
        case TKIND_UNION:
            Aggregate(type);
            break;
        case TKIND_ALIAS:
            Append(out_, {"    typedef [", Attributes(type, "public"), "] ",
                          Declaration(Spelled(type.aliasOf), type.name), ";\n"});
            break;
        case TKIND_MODULE:
            Module(type);
            break;
        case TKIND_INTERFACE:
            Interface(type);
            break;
        case TKIND_DISPATCH:
            Dispinterface(type);
            break;
        case TKIND_COCLASS:
            Coclass(type);
            break;
        }
        finished_[index] = true;
    }

    // Whether the type at index is an enumeration, record, union or alias that names no
    // interface or coclass, itself or through the types it names.
    bool Plain(size_t index) {
        if (plain_[index] != kUnknown)
            return plain_[index] == kYes;
        const TypeContent& type = source_.content.types[index];
        bool plain = type.kind == TKIND_ENUM || type.kind == TKIND_RECORD || type.kind == TKIND_UNION ||
                     type.kind == TKIND_ALIAS;
        plain_[index] = kYes; // a record that names itself is as plain as the rest of it
        auto check = [&](const std::string& text) {
            Identifiers(text, [&](const std::string& name) {
                size_t found = Own(name);
                plain = plain && (found == kNone || Plain(found));
            });
        };
        check(type.aliasOf);
        for (const MemberContent& member : type.members)
            check(member.type);
        plain_[index] = plain ? kYes : kNo;
        return plain;
    }

    // A type's text as IDL must spell it here: a record or union whose definition is still being
    // written (it refers to itself, or to a record that refers back) is named by its tag,
    // "struct NAME", which IDL takes before the definition; its typedef name it does not.
    // In a signature (signature set), an alias of a pointer is spelled as the pointer it stands
    // for: widl 7 loses the first interface's uses of such an alias (they read back as a
    // reference to nothing), and a client sees the same type either way.
    std::string Spelled(const std::string& type, bool signature = false) const {
        static const char kFirst[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
        static const char kRest[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789";
        std::string out;
        size_t at = 0;
        for (size_t start; (start = type.find_first_of(kFirst, at)) != std::string::npos;) {
            size_t end = std::min(type.find_first_not_of(kRest, start), type.size());
            size_t found = Own(std::string_view(type).substr(start, end - start));
            out.append(type, at, start - at);
            at = end;
            if (signature && found != kNone && source_.content.types[found].kind == TKIND_ALIAS &&
                !source_.content.types[found].aliasOf.empty() &&
                source_.content.types[found].aliasOf.back() == '*') {
                out += Spelled(source_.content.types[found].aliasOf);
                continue;
            }
            if (found != kNone && !finished_[found]) {
                uint32_t kind = source_.content.types[found].kind;
                if (kind == TKIND_RECORD)
                    out += "struct ";
                else if (kind == TKIND_UNION)
                    out += "union ";
            }
            out.append(type, start, end - start);
        }
        return out.append(type, at, std::string::npos);
    }

    std::string Signed(const MemberContent& member) const {
        return Signature(member, [this](const std::string& type) { return Spelled(type, true); });
    }

    // A type's own attributes, after first.
    std::string Attributes(const TypeContent& type, const std::string& first) {
        std::string attributes = first;
        if (!IsEqualGUID(type.guid, GUID_NULL))
            Append(attributes, {(attributes.empty() ? "uuid(" : ", uuid("), Uuid(type.guid), ")"});
        if (type.major || type.minor)
            Append(attributes, {", version(", VersionText(type.major, type.minor), ")"});
        Documented(attributes, type.documentation, type.helpContext);
        Flags(attributes, type.flags, kTypeFlags);
        if (type.kind == TKIND_COCLASS && !(type.flags & TYPEFLAG_FCANCREATE))
            attributes += ", noncreatable";
        if (type.kind == TKIND_MODULE)
            Append(attributes, {", dllname(", Quoted(type.dllName), ")"});
        return attributes;
    }

    // A member's attributes: its id, its invoke kind, its documentation and its flags.
    std::string MemberAttributes(const MemberContent& member, bool withId) {
        std::string attributes = withId ? "id(" + HexNumber(static_cast<uint32_t>(member.id)) + ")" : "";
        if (member.isFunction && member.invokeKind != INVOKE_FUNC)
            Append(attributes, {", ", InvokeName(member.invokeKind)});
        if (member.isFunction && member.optionalCount == -1)
            attributes += ", vararg";
        // "#N" names the entry by its ordinal; a lone "#" names none.
        if (member.entry.size() > 1 || (!member.entry.empty() && member.entry[0] != '#'))
            Append(
                attributes,
                {", entry(", (member.entry[0] == '#' ? member.entry.substr(1) : Quoted(member.entry)), ")"});
        Documented(attributes, member.documentation, member.helpContext);
        Flags(attributes, member.flags, member.isFunction ? kFunctionFlags : kVariableFlags);
        if (!attributes.empty() && attributes[0] == ',')
            attributes.erase(0, 2);
        return attributes.empty() ? std::string() : "[" + attributes + "] ";
    }

    void Aggregate(const TypeContent& type) {
        const char* keyword = type.kind == TKIND_ENUM     ? "enum"
                              : type.kind == TKIND_RECORD ? "struct"
                                                          : "union";
        std::string attributes = Attributes(type, "");
        Append(out_, {"    typedef ", (attributes.empty() ? "" : "[" + attributes + "] "), keyword, " ",
                      type.name, " {\n"});
        for (size_t i = 0; i < type.members.size(); ++i) {
            const MemberContent& member = type.members[i];
            std::string memberAttributes = MemberAttributes(member, false);
            if (type.kind == TKIND_ENUM)
                Append(out_, {"        ", memberAttributes, member.name, " = ", member.value,
                              (i + 1 < type.members.size() ? ",\n" : "\n")});
            else
                Append(out_,
                       {"        ", memberAttributes, Declaration(Spelled(member.type), member.name), ";\n"});
        }
        Append(out_, {"    } ", type.name, ";\n"});
    }

    void Module(const TypeContent& type) {
        Append(out_, {"    [", Attributes(type, ""), "]\n    module ", type.name, " {\n"});
        for (const MemberContent& member : type.members) {
            if (!member.isFunction) {
                Append(out_, {"        ", MemberAttributes(member, false), "const ",
                              Declaration(member.type, member.name), " = ", member.value, ";\n"});
                continue;
            }
            std::string signature = Signed(member);
            size_t name = signature.find(' ' + member.name + '(');
            Append(out_, {"        ", MemberAttributes(member, false), signature.substr(0, name), " __",
                          CallingConventionName(member.callingConvention), signature.substr(name), ";\n"});
        }
        out_ += "    };\n";
    }

    void Methods(const TypeContent& type) {
        for (const MemberContent& member : type.members)
            if (member.isFunction)
                Append(out_, {"        ", MemberAttributes(member, true), Signed(member), ";\n"});
    }

    void Interface(const TypeContent& type) {
        std::string base = type.implemented.empty() ? std::string() : " : " + type.implemented.front().name;
        Append(out_, {"    [", Attributes(type, "object"), "]\n    interface ", type.name, base, " {\n"});
        Methods(type);
        out_ += "    };\n";
    }

    void Dispinterface(const TypeContent& type) {
        Append(out_,
               {"    [", Attributes(type, ""), "]\n    dispinterface ", type.name, " {\n    properties:\n"});
        for (const MemberContent& member : type.members)
            if (!member.isFunction)
                Append(out_, {"        ", MemberAttributes(member, true),
                              Declaration(member.type, member.name), ";\n"});
        out_ += "    methods:\n";
        Methods(type);
        out_ += "    };\n";
    }

    void Coclass(const TypeContent& type) {
        Append(out_, {"    [", Attributes(type, ""), "]\n    coclass ", type.name, " {\n"});
        for (const ImplementedContent& implemented : type.implemented) {
            std::string flags;
            AppendFlags(flags, implemented.flags, kImplementedFlags, true);
            Append(out_, {"        ", (flags.empty() ? "" : "[" + flags + "] "),
                          (implemented.kind == TKIND_DISPATCH ? "dispinterface " : "interface "),
                          implemented.name, ";\n"});
        }
        out_ += "    };\n";
    }

    const TypesSource& source_;
    using Named = std::pair<std::string_view, size_t>;
    static constexpr size_t kNone = static_cast<size_t>(-1);
    // The index of the library's first type called name, or kNone.
    size_t Own(std::string_view name) const {
        auto found = std::lower_bound(own_.begin(), own_.end(), name,
                                      [](const Named& a, std::string_view b) { return a.first < b; });
        return found != own_.end() && found->first == name ? found->second : kNone;
    }
    std::vector<Named> own_;
    std::vector<bool> written_;
    std::vector<bool> finished_; // the type's definition is written whole
    enum Answer : char { kUnknown, kYes, kNo };
    std::vector<Answer> plain_;
    std::string out_;
};

} // namespace

std::string TypesIdl(const TypesSource& source) {
    return IdlWriter(source).Write();
}

} // namespace cli
