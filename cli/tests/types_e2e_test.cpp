// corvane-cli types and diff end to end, with the IDL compiler as the oracle: the IDL that
// types --idl writes, compiled by widl, must give a library in which diff finds no breaking
// change; and libraries compiled from one IDL and a changed copy must differ as changed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>

#include "common/owners.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

using nlohmann::json;
using namespace testsupport;

namespace {

// What the made libraries declare outside their library block, as a library that imports nothing
// must: the base types and the two interfaces every interface derives from.
const char kPrelude[] = R"(
typedef long HRESULT;
typedef unsigned short* BSTR;
typedef short VARIANT_BOOL;
typedef struct tagVARIANT { unsigned short vt; unsigned short r[3]; double v; } VARIANT;
typedef struct _GUID { unsigned long a; unsigned short b; unsigned short c; unsigned char d[8]; } GUID;
[object, uuid(00000000-0000-0000-C000-000000000046)]
interface IUnknown { HRESULT QueryInterface([in] GUID* i, [out, iid_is(i)] void** o); unsigned long AddRef(); unsigned long Release(); }
[object, uuid(00020400-0000-0000-C000-000000000046)]
interface IDispatch : IUnknown { HRESULT A(); HRESULT B(); HRESULT C(); HRESULT D(); }
)";

// Every kind, and every flag that IDL can set, in one library. widl runs in the test folder,
// where stdole2.tlb is copied for its importlib.
const std::string kEveryKind = std::string(kPrelude) + R"(
typedef [public] long IFontDisp; // stdole2's alias, found there by name
[uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F60), version(3.4), lcid(0x0409), helpstring("every kind"), helpcontext(7), control]
library CorvaneEveryKind {
    importlib("stdole2.tlb");
    interface IShape;
    typedef [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F61), helpstring("a point")] struct Point { long x; double y; short cells[4]; BSTR name; } Point;
    typedef [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F62)] union Either { long whole; double part; } Either;
    typedef [uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F63), hidden, restricted] enum Colour { Red = 1, Green = -2, Blue = 0x7FFFFFFF } Colour;
    typedef [public] double Length;
    typedef [public, uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F6A)] long Handle;
    typedef [public] Point* PointRef;
    typedef struct Cell { struct Cell* next; struct Row* row; } Cell;
    typedef struct Row { Cell* first; } Row;
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
    interface IPlain : IUnknown { HRESULT Step([in] unsigned char a, [in] hyper b, [in] float c, [in] PointRef p, [in] Handle h, [in] IFontDisp* f, [in] Row* r); };
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

// A library that imports nothing: it defines GUID and IUnknown itself.
const char kSelfContained[] = R"(
typedef long HRESULT;
[uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F70), version(1.0)]
library CorvaneSelfContained {
    typedef struct _GUID { unsigned long a; unsigned short b; unsigned short c; unsigned char d[8]; } GUID;
    [object, uuid(00000000-0000-0000-C000-000000000046)]
    interface IUnknown { HRESULT QueryInterface([in] GUID* i, [out, iid_is(i)] void** o); unsigned long AddRef(); unsigned long Release(); }
    [object, uuid(7C3A2E10-5B4D-4F21-9E8A-1D2C3B4A5F71)] interface IList : IUnknown { HRESULT Head([out, retval] GUID* id); };
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

TEST(CliTypes, IdlOfEachLibraryCompilesBackToTheSameTypes) {
    ComApartment apartment;
    TempFolder temp;
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string systemFolder = system;
    ASSERT_TRUE(CopyFileA((systemFolder + "\\stdole2.tlb").c_str(), temp.File("stdole2.tlb").c_str(), FALSE));
    WriteFileBytes(temp.File("everykind.idl"), kEveryKind);
    ASSERT_EQ(Widl(temp.Path(), "everykind.idl", "everykind.tlb"), "");
    WriteFileBytes(temp.File("selfcontained.idl"), kSelfContained);
    ASSERT_EQ(Widl(temp.Path(), "selfcontained.idl", "selfcontained.tlb"), "");
    ASSERT_EQ(MakeTypeLibWithInterfaces(temp.File("shapes.tlb"), NewGuid()), S_OK);

    struct Case {
        std::string file;
        // 0: the same content; 1: only the differences docs/cli.md names as beyond IDL.
        unsigned diffExit;
    };
    const Case cases[] = {
        {temp.File("everykind.tlb"), 1},      {temp.File("selfcontained.tlb"), 0},
        {temp.File("shapes.tlb"), 1},         {systemFolder + "\\stdole2.tlb", 1},
        {systemFolder + "\\scrrun.dll", 0},   {systemFolder + "\\msxml3.dll", 0},
        {systemFolder + "\\activeds.tlb", 0}, {systemFolder + "\\atl.dll", 1},
        {systemFolder + "\\mshtml.tlb", 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& each = cases[i];
        SCOPED_TRACE(each.file);
        std::string idl = "back" + std::to_string(i) + ".idl", tlb = "back" + std::to_string(i) + ".tlb";
        driver::ChildRun written = RunCli({"types", each.file, "--idl", "-o", temp.File(idl)});
        ASSERT_EQ(written.exitCode, 0u) << written.err;
        ASSERT_EQ(Widl(temp.Path(), idl, tlb), "");
        driver::ChildRun diff = RunCli({"diff", each.file, temp.File(tlb)});
        EXPECT_EQ(diff.exitCode, each.diffExit) << diff.out << diff.err;
    }
}

} // namespace

namespace {

// The library each case of the diff test changes, with one text replaced.
const std::string kDiffBase = std::string(kPrelude) + R"(
[uuid(5E2B7A90-1C3D-4E5F-8A9B-0C1D2E3F4A50), version(1.0)]
library CorvaneDiff {
    typedef [uuid(5E2B7A90-1C3D-4E5F-8A9B-0C1D2E3F4A51)] struct Point { long x; long y; } Point;
    typedef enum Colour { Red = 1, Green = 2 } Colour;
    typedef [public] long Length;
    [object, uuid(5E2B7A90-1C3D-4E5F-8A9B-0C1D2E3F4A52)] interface IBase : IUnknown { HRESULT Base(); };
    [object, uuid(5E2B7A90-1C3D-4E5F-8A9B-0C1D2E3F4A53)]
    interface IShape : IUnknown { HRESULT Move([in] long x, [in] long y); HRESULT Size([out, retval] long* result); };
    [object, uuid(5E2B7A90-1C3D-4E5F-8A9B-0C1D2E3F4A54)] interface IOther : IBase { HRESULT Other(); };
    [uuid(5E2B7A90-1C3D-4E5F-8A9B-0C1D2E3F4A55)]
    dispinterface DEvents { properties: methods: [id(1)] void Changed([in] long what); [id(2)] void Closed(); };
    [uuid(5E2B7A90-1C3D-4E5F-8A9B-0C1D2E3F4A56)]
    coclass Shape { [default] interface IShape; [default, source] dispinterface DEvents; interface IOther; };
};
)";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    return at == std::string::npos ? "'" + from + "' is not in the base" : text.replace(at, from.size(), to);
}

TEST(CliDiff, ClassesEachKindOfChangeAndNamesWhereItIs) {
    TempFolder temp;
    WriteFileBytes(temp.File("base.idl"), kDiffBase);
    ASSERT_EQ(Widl(temp.Path(), "base.idl", "base.tlb"), "");
    const std::string base = temp.File("base.tlb");
    struct Case {
        const char* from;
        const char* to;
        unsigned exitCode; // 1 compatible, 4 breaking
        const char* line;  // a line of the text output holds this
    };
    const Case cases[] = {
        {"HRESULT Move(", "HRESULT Grow(); HRESULT Move(", 4,
         "IShape.Move  [vtable slot 3]  vtable slot changed: slot 3 -> slot 4"},
        {"HRESULT Move(", "HRESULT Grow(); HRESULT Move(", 4,
         "IShape.Grow  [vtable slot 3]  method inserted"},
        {"long* result); };", "long* result); HRESULT Grow(); };", 1,
         "IShape.Grow  [vtable slot 5]  method appended"},
        {"HRESULT Size([out, retval] long* result);", "", 4, "IShape.Size  [vtable slot 4]  method removed"},
        {"[in] long y)", "[in] double y)", 4,
         "IShape.Move  [vtable slot 3]  parameter 2 (y) type changed: long -> double"},
        {"[in] long y)", "[in] long y, [in] long z)", 4,
         "IShape.Move  [vtable slot 3]  parameter count changed"},
        {"[in] long y)", "[in] Length y)", 1,
         "parameter 2 (y) type spelled through an alias: long -> Length"},
        {"[out, retval] long* result", "[out] long* result", 4,
         "parameter 1 (result) flags changed: out, retval -> out"},
        {"HRESULT Size(", "long Size(", 4,
         "IShape.Size  [vtable slot 4]  return type changed: HRESULT -> long"},
        {"IOther : IBase", "IOther : IUnknown", 4,
         "interface IOther  base interface changed: IBase -> IUnknown"},
        {"[id(2)] void Closed", "[id(3)] void Closed", 4,
         "DEvents.Closed  [dispid 0x2]  DISPID changed: 0x2 -> 0x3"},
        {"[in] long what", "[in] BSTR what", 4,
         "DEvents.Changed  [dispid 0x1]  parameter 1 (what) type changed"},
        {"void Closed()", "void Closed([in, optional] VARIANT how)", 1,
         "DEvents.Closed  [dispid 0x2]  optional parameters added"},
        {"long y; } Point", "long y; long z; } Point", 4, "record Point  size changed: 8 -> 12"},
        {"{ long x; long y; } Point", "{ double x; long y; } Point", 4,
         "record Point.y  offset changed: 4 -> 8"},
        {"{ long x; long y; } Point", "{ double x; long y; } Point", 4,
         "record Point  alignment changed: 4 -> 8"},
        {"long y; } Point", "short y; } Point", 4, "record Point.y  type changed: long -> short"},
        {"Green = 2", "Green = 3", 4, "enum Colour.Green  value changed: 2 -> 3"},
        {", Green = 2", "", 4, "enum Colour.Green  constant removed"},
        {"Green = 2", "Green = 2, Blue = 4", 1, "enum Colour.Blue  constant added: int Blue = 4"},
        {"[public] long Length", "[public] double Length", 4,
         "alias Length  aliased type changed: long -> double"},
        {" interface IOther; };", " };", 4, "coclass Shape  interface removed: IOther"},
        {"[default] interface IShape; [default, source] dispinterface DEvents; interface IOther;",
         "interface IShape; [default, source] dispinterface DEvents; [default] interface IOther;", 4,
         "coclass Shape  default interface changed: IShape -> IOther"},
        {"3F4A53)]", "3F4B53)]", 4, "interface IShape  GUID changed: {5E2B7A90-1C3D-4E5F-8A9B-0C1D2E3F4A53}"},
        {"3F4A50), version", "3F4B50), version", 4, "library  library GUID changed"},
        {"version(1.0)", "version(2.0)", 1, "library  version changed: 1.0 -> 2.0"},
        {"HRESULT Base(); };",
         "HRESULT Base(); }; [object, uuid(5E2B7A90-1C3D-4E5F-8A9B-0C1D2E3F4A57)] interface INew : IUnknown "
         "{ HRESULT New(); };",
         1, "interface INew  type added"},
        {"interface IShape : IUnknown", "[helpstring(\"a shape\")] interface IShape : IUnknown", 1,
         "interface IShape  documentation changed"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(std::string(each.from) + " => " + each.to);
        WriteFileBytes(temp.File("new.idl"), Replaced(kDiffBase, each.from, each.to));
        ASSERT_EQ(Widl(temp.Path(), "new.idl", "new.tlb"), "");
        driver::ChildRun text = RunCli({"diff", base, temp.File("new.tlb")});
        driver::ChildRun document = RunCli({"diff", base, temp.File("new.tlb"), "--json"});
        EXPECT_EQ(text.exitCode, each.exitCode) << text.out << text.err;
        EXPECT_NE(text.out.find(each.line), std::string::npos) << text.out;
        // Breaking changes under one major version are a finding of their own.
        EXPECT_EQ(text.out.find("clients of OLD 1.0 will call the wrong slot") != std::string::npos,
                  each.exitCode == 4 && each.line != std::string("library  library GUID changed"))
            << text.out;
        json parsed = json::parse(document.out, nullptr, false);
        ASSERT_TRUE(parsed.is_object()) << document.out;
        EXPECT_EQ(parsed["exitCode"], each.exitCode);
        EXPECT_EQ(parsed["breaking"] > 0, each.exitCode == 4) << document.out;
    }
    // The same library, and a damaged file on either side.
    driver::ChildRun same = RunCli({"diff", base, base});
    EXPECT_EQ(same.exitCode, 0u) << same.out;
    EXPECT_EQ(same.out, "the same content\n");
    std::string bytes = ReadFileBytes(base);
    WriteFileBytes(temp.File("damaged.tlb"), bytes.substr(0, bytes.size() / 3));
    for (const auto& [a, b] :
         {std::pair(base, temp.File("damaged.tlb")), std::pair(temp.File("damaged.tlb"), base)}) {
        driver::ChildRun damaged = RunCli({"diff", a, b});
        EXPECT_EQ(damaged.exitCode, 2u);
        EXPECT_EQ(damaged.out, "");
        EXPECT_NE(damaged.err.find("damaged.tlb"), std::string::npos) << damaged.err;
    }
}

} // namespace
