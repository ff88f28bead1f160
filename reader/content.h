// The whole content of a type library, as the reader's child walked it: every type info with
// its members, and the libraries its types refer to. The child sends it as one compact record
// (numbers as variable-length integers, text as UTF-8 with its length); the gate decodes it
// completely or refuses the file as damaged.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace reader {

// A content record larger than this is refused as damaged: the largest real library at hand,
// the 1.2 MB mshtml.tlb, gives about 1 MB, and a file that claims millions of members
// must not make either process allocate without bound.
constexpr uint32_t kMaxContentSize = 16u << 20;

// Types are written as IDL writes them: "long", "BSTR*", "SAFEARRAY(VARIANT)", "IFoo*",
// "short[4]" (a fixed array, its bounds after the element type).
struct ParameterContent {
    std::string name;
    std::string type;
    uint32_t flags = 0;       // PARAMFLAG_*
    std::string defaultValue; // with PARAMFLAG_FHASDEFAULT: as IDL writes the value
};

// A function (isFunction) or a variable: an interface's method, a dispinterface's property, a
// record's field, an enumeration's or a module's constant.
struct MemberContent {
    bool isFunction = false;
    int32_t id = 0;
    std::string name;
    std::string documentation;
    uint32_t helpContext = 0;
    uint32_t flags = 0; // FUNCFLAG_* or VARFLAG_*
    std::string type;   // the return type, or the variable's type
    // Functions.
    uint32_t invokeKind = INVOKE_FUNC;
    uint32_t functionKind = FUNC_PUREVIRTUAL;
    uint32_t callingConvention = CC_STDCALL;
    int32_t vtableOffset = 0;
    int32_t optionalCount = 0; // cParamsOpt; -1: the last parameter takes the rest (vararg)
    std::string entry;         // a module's function: its entry point, or "#" and its ordinal
    std::vector<ParameterContent> parameters;
    // Variables.
    uint32_t variableKind = VAR_PERINSTANCE;
    std::string value;   // VAR_CONST: as IDL writes the value
    uint32_t offset = 0; // VAR_PERINSTANCE: the field's offset in its record or union (oInst)
};

struct ImplementedContent {
    std::string name;
    uint32_t kind = TKIND_INTERFACE; // that type's kind, where the child could read it
    uint32_t flags = 0;              // IMPLTYPEFLAG_*
};

struct TypeContent {
    uint32_t kind = TKIND_INTERFACE; // TYPEKIND; a dual interface is described by its interface half
    std::string name;
    std::string documentation;
    uint32_t helpContext = 0;
    GUID guid{};
    uint16_t major = 0;
    uint16_t minor = 0;
    uint32_t flags = 0; // TYPEFLAG_*
    // The layout a client compiles in: the bytes of an instance (a record's, a union's; a
    // pointer's for an interface), their alignment, and the bytes of the vtable with the
    // inherited slots (cbSizeInstance, cbAlignment, cbSizeVft).
    uint32_t size = 0;
    uint16_t alignment = 0;
    uint32_t vtableSize = 0;
    std::string aliasOf;                         // TKIND_ALIAS: the aliased type
    std::string dllName;                         // TKIND_MODULE: the DLL its functions are in
    std::vector<ImplementedContent> implemented; // base interface, or a coclass's interfaces
    std::vector<MemberContent> members;
};

struct ImportContent {
    GUID guid{};
    uint16_t major = 0;
    uint16_t minor = 0;
    std::string name;
    std::string file; // the file name importlib names: the registered file's, or name + ".tlb"
};

// A type of an imported library that this library's types refer to.
struct ImportedTypeContent {
    std::string name;
    uint32_t kind = TKIND_INTERFACE; // a dual interface counts as an interface
    GUID guid{};
    uint32_t vtableSize = 0; // an interface's: the bytes of its vtable, inherited slots included
};

struct LibraryContent {
    std::string helpFile;
    uint32_t helpContext = 0;
    std::vector<ImportContent> imports;
    std::vector<ImportedTypeContent> importedTypes;
    std::vector<TypeContent> types;
};

// The record's fields, after the answer's own. Decode is false for anything that is not exactly
// one content record's fields: short, too long, or with a kind out of range.
std::string EncodeContent(const LibraryContent& content);
bool DecodeContent(const char* bytes, size_t size, LibraryContent& content);

} // namespace reader
