#include "reader/child/contentwalk.h"

#include <map>

#include "common/owners.h"
#include "common/text.h"

namespace reader {

namespace {

std::string Utf8(BSTR text) {
    return text ? ToUtf8(std::wstring(text, SysStringLen(text))) : std::string();
}

// The names IDL gives the automation types, by VARTYPE; null where IDL has none.
const char* BaseTypeName(VARTYPE vt) {
    switch (vt) {
    case VT_I2:
        return "short";
    case VT_I4:
        return "long";
    case VT_R4:
        return "float";
    case VT_R8:
        return "double";
    case VT_CY:
        return "CURRENCY";
    case VT_DATE:
        return "DATE";
    case VT_BSTR:
        return "BSTR";
    case VT_DISPATCH:
        return "IDispatch*";
    case VT_ERROR:
        return "SCODE";
    case VT_BOOL:
        return "VARIANT_BOOL";
    case VT_VARIANT:
        return "VARIANT";
    case VT_UNKNOWN:
        return "IUnknown*";
    case VT_DECIMAL:
        return "DECIMAL";
    case VT_I1:
        return "char";
    case VT_UI1:
        return "unsigned char";
    case VT_UI2:
        return "unsigned short";
    case VT_UI4:
        return "unsigned long";
    case VT_I8:
        return "hyper";
    case VT_UI8:
        return "unsigned hyper";
    case VT_INT:
        return "int";
    case VT_UINT:
        return "unsigned int";
    case VT_VOID:
        return "void";
    case VT_HRESULT:
        return "HRESULT";
    case VT_LPSTR:
        return "LPSTR";
    case VT_LPWSTR:
        return "LPWSTR";
    case VT_INT_PTR:
        return "INT_PTR";
    case VT_UINT_PTR:
        return "UINT_PTR";
    case VT_CLSID:
        return "GUID";
    }
    return nullptr;
}

// A constant or a default value as IDL writes it: text quoted, numbers in the invariant form.
std::string ValueText(const VARIANT& value) {
    if (V_VT(&value) == VT_BSTR)
        return "\"" + Utf8(V_BSTR(&value)) + "\"";
    if (V_VT(&value) == VT_EMPTY || V_VT(&value) == VT_NULL || V_VT(&value) == VT_DISPATCH ||
        V_VT(&value) == VT_UNKNOWN)
        return "0";
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), MAKELCID(0x0409, SORT_DEFAULT),
                                   VARIANT_NOUSEROVERRIDE, VT_BSTR)))
        return "0";
    std::string result = Utf8(V_BSTR(&text));
    VariantClear(&text);
    return result;
}

class Walk {
  public:
    Walk(const GUID& own, LibraryContent& content) : own_(own), content_(content) {}

    void Type(ITypeInfo* listed) {
        TypeAttributes attributes(listed);
        if (FAILED(listed->GetTypeAttr(attributes.Put())) || !attributes)
            return;
        TypeContent type;
        type.kind = attributes->typekind;
        type.guid = attributes->guid;
        type.major = attributes->wMajorVerNum;
        type.minor = attributes->wMinorVerNum;
        type.flags = attributes->wTypeFlags;
        Documentation(listed, MEMBERID_NIL, type.name, type.documentation, type.helpContext);
        // A dual interface is described by its interface half, which has the vtable.
        ComPtr<ITypeInfo> half;
        HREFTYPE reference = 0;
        if (type.kind == TKIND_DISPATCH && (type.flags & TYPEFLAG_FDUAL) &&
            SUCCEEDED(listed->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference)))
            listed->GetRefTypeInfo(reference, half.Put());
        TypeAttributes halfAttributes(half.Get());
        ITypeInfo* info = listed;
        if (half && SUCCEEDED(half->GetTypeAttr(halfAttributes.Put())) && halfAttributes) {
            info = half.Get();
            type.kind = TKIND_INTERFACE;
        }
        const TYPEATTR& shape = info == listed ? *attributes.Get() : *halfAttributes.Get();
        type.size = shape.cbSizeInstance;
        type.alignment = shape.cbAlignment;
        type.vtableSize = shape.cbSizeVft;
        if (type.kind == TKIND_ALIAS)
            type.aliasOf = TypeText(info, shape.tdescAlias);
        for (UINT i = 0; i < shape.cImplTypes; ++i)
            Implemented(info, i, type);
        for (UINT i = 0; i < shape.cFuncs; ++i)
            Function(info, i, type);
        for (UINT i = 0; i < shape.cVars; ++i)
            Variable(info, i, type);
        content_.types.push_back(std::move(type));
    }

  private:
    void Documentation(ITypeInfo* info, MEMBERID id, std::string& name, std::string& text,
                       uint32_t& context) {
        Bstr nameText, documentation;
        DWORD helpContext = 0;
        if (FAILED(info->GetDocumentation(id, nameText.Put(), documentation.Put(), &helpContext, nullptr)))
            return;
        name = Utf8(nameText.Get());
        text = Utf8(documentation.Get());
        context = helpContext;
    }

    // The referenced type's name; a type of another library makes that library an import.
    std::string ReferenceName(ITypeInfo* info, HREFTYPE reference, uint32_t* kind = nullptr) {
        ComPtr<ITypeInfo> referenced;
        if (FAILED(info->GetRefTypeInfo(reference, referenced.Put())) || !referenced)
            return "IUnknown";
        // The same few types are referred to thousands of times (mshtml.tlb: 600 types, 40,000
        // references): each is read once. The cache holds its type info, so that no other
        // object can come to the same address.
        auto cached = resolved_.find(referenced.Get());
        if (cached != resolved_.end()) {
            if (kind)
                *kind = cached->second.kind;
            return cached->second.name;
        }
        Bstr name;
        referenced->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
        ImportedTypeContent seen;
        seen.name = Utf8(name.Get());
        TypeAttributes attributes(referenced.Get());
        if (SUCCEEDED(referenced->GetTypeAttr(attributes.Put())) && attributes) {
            bool dual = attributes->typekind == TKIND_DISPATCH && (attributes->wTypeFlags & TYPEFLAG_FDUAL);
            seen.kind = dual ? TKIND_INTERFACE : attributes->typekind;
            seen.guid = attributes->guid;
            seen.vtableSize = attributes->cbSizeVft;
        }
        if (kind)
            *kind = seen.kind;
        ComPtr<ITypeLib> library;
        UINT index = 0;
        if (SUCCEEDED(referenced->GetContainingTypeLib(library.Put(), &index)) && library &&
            Imported(library.Get())) {
            bool known = false;
            for (const ImportedTypeContent& type : content_.importedTypes)
                known = known || type.name == seen.name;
            if (!known)
                content_.importedTypes.push_back(seen);
        }
        ITypeInfo* key = referenced.Get();
        resolved_.emplace(key, Resolved{std::move(referenced), seen.name, seen.kind});
        return seen.name;
    }

    // Whether library is another than the one walked; the first time, it becomes an import.
    bool Imported(ITypeLib* library) {
        LibraryAttributes attributes(library);
        if (FAILED(library->GetLibAttr(attributes.Put())) || !attributes ||
            IsEqualGUID(attributes->guid, own_))
            return false;
        for (const ImportContent& known : content_.imports)
            if (IsEqualGUID(known.guid, attributes->guid) && known.major == attributes->wMajorVerNum &&
                known.minor == attributes->wMinorVerNum)
                return true;
        ImportContent import;
        import.guid = attributes->guid;
        import.major = attributes->wMajorVerNum;
        import.minor = attributes->wMinorVerNum;
        Bstr name, path;
        library->GetDocumentation(-1, name.Put(), nullptr, nullptr, nullptr);
        import.name = Utf8(name.Get());
        if (SUCCEEDED(QueryPathOfRegTypeLib(import.guid, import.major, import.minor, attributes->lcid,
                                            path.Put()))) {
            std::string full = Utf8(path.Get());
            import.file = full.substr(full.find_last_of('\\') + 1);
        }
        if (import.file.empty())
            import.file = import.name + ".tlb";
        content_.imports.push_back(std::move(import));
        return true;
    }

    std::string TypeText(ITypeInfo* info, const TYPEDESC& type, int depth = 0) {
        // A damaged chain of pointers must not recurse without bound.
        if (depth > 32)
            return "void";
        switch (type.vt) {
        case VT_PTR:
            return TypeText(info, *type.lptdesc, depth + 1) + "*";
        case VT_SAFEARRAY:
            return "SAFEARRAY(" + TypeText(info, *type.lptdesc, depth + 1) + ")";
        case VT_CARRAY: {
            std::string text = TypeText(info, type.lpadesc->tdescElem, depth + 1);
            for (USHORT i = 0; i < type.lpadesc->cDims; ++i)
                text += "[" + DecimalAnsi(type.lpadesc->rgbounds[i].cElements) + "]";
            return text;
        }
        case VT_USERDEFINED:
            return ReferenceName(info, type.hreftype);
        }
        const char* name = BaseTypeName(type.vt);
        return name ? name : "VARIANT";
    }

    void Implemented(ITypeInfo* info, UINT index, TypeContent& type) {
        ImplementedContent implemented;
        HREFTYPE reference = 0;
        INT flags = 0;
        if (FAILED(info->GetRefTypeOfImplType(index, &reference)))
            return;
        info->GetImplTypeFlags(index, &flags);
        implemented.flags = static_cast<uint32_t>(flags);
        implemented.name = ReferenceName(info, reference, &implemented.kind);
        type.implemented.push_back(std::move(implemented));
    }

    void Function(ITypeInfo* info, UINT index, TypeContent& type) {
        FunctionDescription function(info);
        if (FAILED(info->GetFuncDesc(index, function.Put())) || !function)
            return;
        MemberContent member;
        member.isFunction = true;
        member.id = function->memid;
        member.flags = function->wFuncFlags;
        member.invokeKind = function->invkind;
        member.functionKind = function->funckind;
        member.callingConvention = function->callconv;
        member.vtableOffset = function->oVft;
        member.optionalCount = function->cParamsOpt;
        member.type = TypeText(info, function->elemdescFunc.tdesc);
        UINT parameters = function->cParams > 0 ? static_cast<UINT>(function->cParams) : 0;
        BstrArray names(parameters + 1);
        UINT named = 0;
        info->GetNames(function->memid, names.Data(), names.Size(), &named);
        std::string ignored;
        Documentation(info, function->memid, ignored, member.documentation, member.helpContext);
        member.name = Utf8(names.Data()[0]);
        for (UINT i = 0; i < parameters; ++i) {
            const ELEMDESC& element = function->lprgelemdescParam[i];
            ParameterContent parameter;
            parameter.name = i + 1 < named ? Utf8(names.Data()[i + 1]) : std::string();
            parameter.type = TypeText(info, element.tdesc);
            parameter.flags = element.paramdesc.wParamFlags;
            if ((parameter.flags & PARAMFLAG_FHASDEFAULT) && element.paramdesc.pparamdescex)
                parameter.defaultValue = ValueText(element.paramdesc.pparamdescex->varDefaultValue);
            member.parameters.push_back(std::move(parameter));
        }
        if (type.kind == TKIND_MODULE) {
            Bstr dll, entry;
            WORD ordinal = 0;
            if (SUCCEEDED(info->GetDllEntry(function->memid, function->invkind, dll.Put(), entry.Put(),
                                            &ordinal))) {
                type.dllName = Utf8(dll.Get());
                member.entry = entry.Get() ? Utf8(entry.Get()) : "#" + DecimalAnsi(ordinal);
            }
        }
        type.members.push_back(std::move(member));
    }

    void Variable(ITypeInfo* info, UINT index, TypeContent& type) {
        VariableDescription variable(info);
        if (FAILED(info->GetVarDesc(index, variable.Put())) || !variable)
            return;
        MemberContent member;
        member.id = variable->memid;
        member.flags = variable->wVarFlags;
        member.variableKind = variable->varkind;
        member.type = TypeText(info, variable->elemdescVar.tdesc);
        if (variable->varkind == VAR_PERINSTANCE)
            member.offset = variable->oInst;
        if (variable->varkind == VAR_CONST && variable->lpvarValue)
            member.value = ValueText(*variable->lpvarValue);
        Documentation(info, variable->memid, member.name, member.documentation, member.helpContext);
        type.members.push_back(std::move(member));
    }

    struct Resolved {
        ComPtr<ITypeInfo> held;
        std::string name;
        uint32_t kind;
    };

    const GUID& own_;
    LibraryContent& content_;
    std::map<ITypeInfo*, Resolved> resolved_;
};

} // namespace

void WalkContent(ITypeLib* library, const GUID& own, LibraryContent& content) {
    Bstr helpFile;
    DWORD helpContext = 0;
    library->GetDocumentation(-1, nullptr, nullptr, &helpContext, helpFile.Put());
    content.helpFile = Utf8(helpFile.Get());
    content.helpContext = helpContext;
    Walk walk(own, content);
    UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> info;
        if (SUCCEEDED(library->GetTypeInfo(i, info.Put())) && info)
            walk.Type(info.Get());
    }
}

} // namespace reader
