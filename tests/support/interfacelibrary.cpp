// A library with interfaces, made with CreateTypeLib2: what registration writes Interface keys for.
#include "tests/support/testsupport.h"

#include "common/owners.h"
#include "common/text.h"

namespace testsupport {

namespace {

struct Member {
    const wchar_t* name;
    VARTYPE parameter; // VT_EMPTY: none
};

// Adds methods returning HRESULT, each with at most one parameter, from vtable slot firstSlot.
HRESULT AddMethods(ICreateTypeInfo* info, const Member* members, UINT count, UINT firstSlot, bool dispatch) {
    for (UINT i = 0; i < count; ++i) {
        ELEMDESC parameter = {};
        parameter.tdesc.vt = members[i].parameter;
        parameter.paramdesc.wParamFlags = PARAMFLAG_FIN;
        FUNCDESC function = {};
        function.memid = dispatch ? static_cast<MEMBERID>(i + 1) : static_cast<MEMBERID>(0x60010000 + i);
        function.funckind = FUNC_PUREVIRTUAL;
        function.invkind = INVOKE_FUNC;
        function.callconv = CC_STDCALL;
        function.cParams = members[i].parameter == VT_EMPTY ? 0 : 1;
        function.lprgelemdescParam = function.cParams ? &parameter : nullptr;
        function.elemdescFunc.tdesc.vt = VT_HRESULT;
        function.oVft = static_cast<SHORT>((firstSlot + i) * sizeof(void*));
        HRESULT hr = info->AddFuncDesc(i, &function);
        if (FAILED(hr))
            return hr;
        LPOLESTR names[2] = {const_cast<LPOLESTR>(members[i].name), const_cast<LPOLESTR>(L"value")};
        if (FAILED(hr = info->SetFuncAndParamNames(i, names, function.cParams + 1)))
            return hr;
    }
    return S_OK;
}

HRESULT AddVariables(ICreateTypeInfo* info, const wchar_t* const* names, UINT count, bool constants) {
    for (UINT i = 0; i < count; ++i) {
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_I4;
        V_I4(&value) = static_cast<LONG>(i + 1);
        VARDESC variable = {};
        variable.memid = static_cast<MEMBERID>(0x40000000 + i);
        variable.varkind = constants ? VAR_CONST : VAR_PERINSTANCE;
        if (constants)
            variable.lpvarValue = &value;
        else
            variable.oInst = i * 4;
        variable.elemdescVar.tdesc.vt = VT_I4;
        HRESULT hr = info->AddVarDesc(i, &variable);
        if (FAILED(hr) || FAILED(hr = info->SetVarName(i, const_cast<LPOLESTR>(names[i]))))
            return hr;
    }
    return S_OK;
}

HRESULT NewType(ICreateTypeLib2* library, const wchar_t* name, TYPEKIND kind, const GUID& guid,
                ComPtr<ICreateTypeInfo>& info) {
    HRESULT hr = library->CreateTypeInfo(const_cast<LPOLESTR>(name), kind, info.Put());
    if (FAILED(hr))
        return hr;
    return info->SetGuid(guid);
}

HRESULT Implement(ICreateTypeInfo* info, ITypeInfo* base, UINT index, INT flags) {
    HREFTYPE reference = 0;
    HRESULT hr = info->AddRefTypeInfo(base, &reference);
    if (FAILED(hr) || FAILED(hr = info->AddImplType(index, reference)))
        return hr;
    return flags ? info->SetImplTypeFlags(index, flags) : S_OK;
}

// Each type gets the library's GUID with its own last byte.
GUID TypeGuid(const GUID& library, BYTE number) {
    GUID guid = library;
    guid.Data4[7] = static_cast<BYTE>(guid.Data4[7] + number);
    return guid;
}

} // namespace

GUID InterfaceIid(const GUID& library, int number) {
    return TypeGuid(library, static_cast<BYTE>(number));
}

HRESULT MakeTypeLibWithInterfaces(const std::string& path, const GUID& guid, SYSKIND syskind) {
    ComPtr<ITypeLib> stdole;
    HRESULT hr = LoadTypeLibEx(L"stdole2.tlb", REGKIND_NONE, stdole.Put());
    ComPtr<ITypeInfo> unknown, dispatch;
    if (FAILED(hr) || FAILED(hr = stdole->GetTypeInfoOfGuid(IID_IUnknown, unknown.Put())) ||
        FAILED(hr = stdole->GetTypeInfoOfGuid(IID_IDispatch, dispatch.Put())))
        return hr;

    ComPtr<ICreateTypeLib2> library;
    std::wstring widePath = ToWide(path);
    if (FAILED(hr = CreateTypeLib2(syskind, widePath.c_str(), library.Put())) ||
        FAILED(hr = library->SetGuid(guid)) ||
        FAILED(hr = library->SetName(const_cast<LPOLESTR>(L"CorvaneShapes"))) ||
        FAILED(hr = library->SetDocString(const_cast<LPOLESTR>(L"Corvane shapes library"))) ||
        FAILED(hr = library->SetVersion(1, 2)) || FAILED(hr = library->SetLcid(0)))
        return hr;

    static const Member shapes[] = {{L"Count", VT_EMPTY}, {L"Add", VT_BSTR}, {L"Remove", VT_I4},
                                    {L"Name", VT_I4},     {L"Move", VT_I4},  {L"Clear", VT_EMPTY}};
    ComPtr<ICreateTypeInfo> plain;
    if (FAILED(hr = NewType(library.Get(), L"IShapes", TKIND_INTERFACE, TypeGuid(guid, 1), plain)) ||
        FAILED(hr = plain->SetTypeFlags(TYPEFLAG_FOLEAUTOMATION)) ||
        FAILED(hr = Implement(plain.Get(), unknown.Get(), 0, 0)) ||
        FAILED(hr = AddMethods(plain.Get(), shapes, 6, 3, false)) || FAILED(hr = plain->LayOut()))
        return hr;

    static const Member drawing[] = {
        {L"Title", VT_EMPTY}, {L"Rename", VT_BSTR}, {L"Draw", VT_I4}, {L"Erase", VT_EMPTY}};
    ComPtr<ICreateTypeInfo> dual;
    if (FAILED(hr = NewType(library.Get(), L"IDrawing", TKIND_INTERFACE, TypeGuid(guid, 2), dual)) ||
        FAILED(hr = dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) ||
        FAILED(hr = Implement(dual.Get(), dispatch.Get(), 0, 0)) ||
        FAILED(hr = AddMethods(dual.Get(), drawing, 4, 7, true)) || FAILED(hr = dual->LayOut()))
        return hr;

    static const wchar_t* const shades[] = {L"Light", L"Middle", L"Dark"};
    static const wchar_t* const fields[] = {L"x", L"y"};
    ComPtr<ICreateTypeInfo> enumeration, structure, coclass;
    if (FAILED(hr = NewType(library.Get(), L"Shade", TKIND_ENUM, TypeGuid(guid, 3), enumeration)) ||
        FAILED(hr = AddVariables(enumeration.Get(), shades, 3, true)) || FAILED(hr = enumeration->LayOut()) ||
        FAILED(hr = NewType(library.Get(), L"Point", TKIND_RECORD, TypeGuid(guid, 4), structure)) ||
        FAILED(hr = AddVariables(structure.Get(), fields, 2, false)) || FAILED(hr = structure->LayOut()))
        return hr;

    ComPtr<ITypeInfo> plainInfo, dualInfo;
    if (FAILED(hr = plain->QueryInterface(IID_ITypeInfo, plainInfo.PutVoid())) ||
        FAILED(hr = dual->QueryInterface(IID_ITypeInfo, dualInfo.PutVoid())) ||
        FAILED(hr = NewType(library.Get(), L"Drawing", TKIND_COCLASS, TypeGuid(guid, 5), coclass)) ||
        FAILED(hr = Implement(coclass.Get(), dualInfo.Get(), 0, IMPLTYPEFLAG_FDEFAULT)) ||
        FAILED(hr = Implement(coclass.Get(), plainInfo.Get(), 1, 0)) || FAILED(hr = coclass->LayOut()))
        return hr;
    return library->SaveAllChanges();
}

} // namespace testsupport
