// corvane-cli types end to end, with the IDL compiler as the oracle: the IDL that types --idl
// writes, compiled by widl, must give a library whose types --json says the same as the
// original's.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <set>

#include "common/owners.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

using nlohmann::json;
using namespace testsupport;

namespace {

// Every kind, and every flag that IDL can set, in one library. widl runs in the test folder,
// where stdole2.tlb is copied for its importlib.
const char kEveryKind[] = R"(
typedef long HRESULT;
typedef unsigned short* BSTR;
typedef short VARIANT_BOOL;
typedef struct tagVARIANT { unsigned short vt; unsigned short r[3]; double v; } VARIANT;
typedef struct _GUID { unsigned long a; unsigned short b; unsigned short c; unsigned char d[8]; } GUID;
[object, uuid(00000000-0000-0000-C000-000000000046)]
interface IUnknown { HRESULT QueryInterface([in] GUID* i, [out, iid_is(i)] void** o); unsigned long AddRef(); unsigned long Release(); }
[object, uuid(00020400-0000-0000-C000-000000000046)]
interface IDispatch : IUnknown { HRESULT A(); HRESULT B(); HRESULT C(); HRESULT D(); }
[uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F60), version(3.4), lcid(0x0409), helpstring("every kind"), helpcontext(7), control]
library CorvaneEveryKind {
    importlib("stdole2.tlb");
    interface IShape;
    typedef [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F61), helpstring("a point")] struct Point { long x; double y; short cells[4]; BSTR name; } Point;
    typedef [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F62)] union Either { long whole; double part; } Either;
    typedef [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F63), hidden, restricted] enum Colour { Red = 1, Green = -2, Blue = 0x7FFFFFFF } Colour;
    typedef [public] double Length;
    [object, uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F64), dual, oleautomation, nonextensible, hidden, helpstring("shape")]
    interface IShape : IDispatch {
        [id(1), propget, bindable, requestedit, displaybind, defaultbind] HRESULT Name([out, retval] BSTR* name);
        [id(1), propput] HRESULT Name([in] BSTR name);
        [id(2), propputref, hidden, nonbrowsable] HRESULT Parent([in] IShape* parent);
        [id(3), restricted, defaultcollelem, uidefault, immediatebind] HRESULT Move([in] Point* to, [in, optional, defaultvalue(5)] long steps, [in, defaultvalue("far")] BSTR how, [in, lcid] long locale, [out, retval] VARIANT_BOOL* done);
        [id(4), vararg] HRESULT Many([in] SAFEARRAY(VARIANT) items);
        [id(5)] HRESULT Kinds([in] Colour c, [in] Either e, [in, out] Length* p, [out] IUnknown** any);
    };
    [object, uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F65)]
    interface IPlain : IUnknown { HRESULT Step([in] unsigned char a, [in] hyper b, [in] float c); };
    [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F66)]
    dispinterface DShapeEvents { properties: [id(7), readonly] long Count; methods: [id(8)] void Changed([in] BSTR what); };
    [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F67), appobject, licensed, control, aggregatable]
    coclass Shape { [default] interface IShape; [source, default] dispinterface DShapeEvents; [restricted] interface IPlain; };
    [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F68), noncreatable]
    coclass Hidden { interface IPlain; };
    [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F69), dllname("shapes.dll")]
    module Shapes { [entry("Area")] long __stdcall Area([in] long side); [entry(3)] double __cdecl Ratio(); };
};
)";

driver::ChildRun RunCli(const std::vector<std::string>& args) {
    return driver::RunProgram(BesideTests("corvane-cli.exe"), args, std::string(), 120000);
}

// widl is a program of the building machine, which Wine starts like one of its own; it reads
// and writes in folder, given as relative paths. Wine has no handle to wait on for such a
// program, nor its exit code: its output file, once it stops growing, says that it succeeded.
// Gives "" on success, else what widl said.
std::string Widl(const std::string& folder, const std::string& idl, const std::string& tlb) {
    std::string program = "Z:" CORVANE_WIDL_UNIX;
    std::replace(program.begin(), program.end(), '/', '\\');
    DeleteFileA((folder + "\\" + tlb).c_str());
    driver::ChildRun run =
        driver::RunProgram(program, {"--win32", "-t", "-L", ".", "-o", tlb, idl}, folder, 120000);
    std::string path = folder + "\\" + tlb;
    size_t size = 0;
    bool made = driver::WaitUntil(
        [&] {
            size_t before = size;
            Sleep(300);
            size = ReadFileBytes(path).size();
            return size != 0 && size == before;
        },
        60000);
    return made && run.err.empty() ? std::string() : "widl " + idl + ": " + run.err + run.out;
}

// What the round trip keeps, per type name: its kind, GUID, flags, base, aliased type and
// interfaces, and its members with their ids, invoke kinds and parameter types and flags, in
// an order of their own (IDL needs a type's dependencies first).
std::map<std::string, std::string> Kept(const std::string& text) {
    std::map<std::string, std::string> kept;
    json document = json::parse(text, nullptr, false);
    if (!document.is_object())
        return kept;
    for (const json& type : document["types"]) {
        std::vector<std::string> members;
        // IDL gives no enumeration constant a type of its own: widl writes each as an int.
        bool enumeration = type["kind"] == "enum";
        for (const json& member : type["members"]) {
            json parameters = json::array();
            for (const json& parameter : member.value("parameters", json::array()))
                parameters.push_back({parameter["type"], parameter["flags"]});
            members.push_back(
                json({member["name"], member["id"], member.value("invoke", ""), member["member"],
                      enumeration ? "" : member.value("returns", member.value("type", "")), parameters,
                      member["flags"]})
                    .dump());
        }
        std::sort(members.begin(), members.end());
        kept[type["name"]] =
            json({type["kind"], type["guid"], type["flags"], type.value("base", ""),
                  type.value("aliasOf", ""), type.value("interfaces", json::array()), members})
                .dump();
    }
    return kept;
}

TEST(CliTypes, IdlOfEachLibraryCompilesBackToTheSameTypes) {
    ComApartment apartment;
    TempFolder temp;
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string systemFolder = system;
    ASSERT_TRUE(CopyFileA((systemFolder + "\\stdole2.tlb").c_str(), temp.File("stdole2.tlb").c_str(), FALSE));
    WriteFileBytes(temp.File("everykind.idl"), kEveryKind);
    ASSERT_EQ(Widl(temp.Path(), "everykind.idl", "everykind.tlb"), "");
    ASSERT_EQ(MakeTypeLibWithInterfaces(temp.File("shapes.tlb"), NewGuid()), S_OK);

    struct Case {
        std::string file;
        // Types that widl cannot write back as they were (docs/cli.md says why).
        std::set<std::string> beyondWidl;
    };
    const Case cases[] = {
        {temp.File("everykind.tlb"), {}},
        {temp.File("shapes.tlb"), {}},
        {systemFolder + "\\stdole2.tlb", {}},
        {systemFolder + "\\scrrun.dll", {}},
        {systemFolder + "\\msxml3.dll", {}},
        {systemFolder + "\\mshtml.tlb", {"IMarkupServices", "IMarkupServices2"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& each = cases[i];
        SCOPED_TRACE(each.file);
        std::string idl = "back" + std::to_string(i) + ".idl", tlb = "back" + std::to_string(i) + ".tlb";
        driver::ChildRun original = RunCli({"types", each.file, "--json"});
        driver::ChildRun written = RunCli({"types", each.file, "--idl", "-o", temp.File(idl)});
        ASSERT_EQ(original.exitCode + written.exitCode, 0u) << original.err << written.err;
        ASSERT_EQ(Widl(temp.Path(), idl, tlb), "");
        driver::ChildRun back = RunCli({"types", temp.File(tlb), "--json"});
        std::map<std::string, std::string> before = Kept(original.out), after = Kept(back.out);
        ASSERT_FALSE(before.empty()) << original.out.substr(0, 500);
        for (const std::string& name : each.beyondWidl) {
            EXPECT_NE(before.erase(name) + after.erase(name), 0u)
                << name << " is no longer a type of the library";
        }
        for (const auto& [name, type] : before)
            EXPECT_EQ(after[name], type) << name;
        EXPECT_EQ(after.size(), before.size());
    }
}

} // namespace
