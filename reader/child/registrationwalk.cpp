#include "reader/child/registrationwalk.h"

#include "common/owners.h"

namespace child {

namespace {

void ReadDocumentation(ITypeInfo* info, MEMBERID member) {
    Bstr name, documentation, helpFile;
    DWORD context = 0;
    info->GetDocumentation(member, name.Put(), documentation.Put(), &context, helpFile.Put());
}

void WalkFunction(ITypeInfo* info, UINT index) {
    FunctionDescription function(info);
    if (FAILED(info->GetFuncDesc(index, function.Put())) || !function)
        return;
    // The function's name and one per parameter.
    BstrArray names(static_cast<size_t>(function->cParams > 0 ? function->cParams : 0) + 1);
    UINT count = 0;
    info->GetNames(function->memid, names.Data(), names.Size(), &count);
    ReadDocumentation(info, function->memid);
}

void WalkVariable(ITypeInfo* info, UINT index) {
    VariableDescription variable(info);
    if (SUCCEEDED(info->GetVarDesc(index, variable.Put())) && variable)
        ReadDocumentation(info, variable->memid);
}

// Reads what RegisterTypeLib reads of one type info: its attributes and documentation, its
// members, the types it implements, and for a dual interface its other half (walked as well
// when otherHalf is true). Failures of single calls are no concern here: registration meets
// them as errors in the parent; only a crash matters, and that ends this process.
void WalkTypeInfo(ITypeInfo* info, bool otherHalf) {
    TypeAttributes attributes(info);
    if (FAILED(info->GetTypeAttr(attributes.Put())) || !attributes)
        return;
    const TYPEATTR& type = *attributes.Get();
    ReadDocumentation(info, MEMBERID_NIL);
    for (UINT i = 0; i < type.cFuncs; ++i)
        WalkFunction(info, i);
    for (UINT i = 0; i < type.cVars; ++i)
        WalkVariable(info, i);
    for (UINT i = 0; i < type.cImplTypes; ++i) {
        INT implFlags = 0;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> implemented;
        info->GetImplTypeFlags(i, &implFlags);
        if (FAILED(info->GetRefTypeOfImplType(i, &reference)) ||
            FAILED(info->GetRefTypeInfo(reference, implemented.Put())) || !implemented)
            continue;
        TypeAttributes implementedAttributes(implemented.Get());
        implemented->GetTypeAttr(implementedAttributes.Put());
        ReadDocumentation(implemented.Get(), MEMBERID_NIL);
    }
    HREFTYPE otherReference = 0;
    ComPtr<ITypeInfo> other;
    if (otherHalf && type.typekind == TKIND_DISPATCH && (type.wTypeFlags & TYPEFLAG_FDUAL) &&
        SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &otherReference)) &&
        SUCCEEDED(info->GetRefTypeInfo(otherReference, other.Put())) && other)
        WalkTypeInfo(other.Get(), false);
}

} // namespace

void WalkForRegistration(ITypeLib* library, UINT count) {
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        library->GetTypeInfoType(i, &kind);
        Bstr name, documentation, helpFile;
        DWORD context = 0;
        library->GetDocumentation(static_cast<INT>(i), name.Put(), documentation.Put(), &context,
                                  helpFile.Put());
        ComPtr<ITypeInfo> info;
        if (SUCCEEDED(library->GetTypeInfo(i, info.Put())) && info)
            WalkTypeInfo(info.Get(), true);
    }
}

} // namespace child
