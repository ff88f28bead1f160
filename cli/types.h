// types: a library's whole content as an outline, as one JSON document and as IDL, each
// written straight from the reader's content record as UTF-8 (no document is built first).
// Console-only: nothing of it is linked into the window.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/content.h"
#include "reader/reader.h"

namespace cli {

// What all three renderings start from.
struct TypesSource {
    std::wstring file; // the file's full path
    LibraryDescription description;
    reader::LibraryContent content;
    std::optional<reader::Confinement> confinement; // what the child that read it got
};

// Appends the parts to out in order: one call and no temporaries, where a chain of + would
// build a string per step (a release-size matter as much as a speed one).
void Append(std::string& out, std::initializer_list<std::string_view> parts);

// A flag's bit and its name, which is also its IDL attribute where idl is set.
struct FlagName {
    uint32_t bit;
    const char* name;
    bool idl;
};
// A constant table of flag names, walked with range-for.
struct FlagTable {
    const FlagName* first;
    const FlagName* last;
    const FlagName* begin() const { return first; }
    const FlagName* end() const { return last; }
};
// The names of the bits set in flags, as listed in names, comma-separated after separator.
void AppendFlags(std::string& out, uint32_t flags, const FlagTable& names, bool idlOnly,
                 const char* separator = ", ");

extern const FlagTable kTypeFlags;
extern const FlagTable kFunctionFlags;
extern const FlagTable kVariableFlags;
extern const FlagTable kParameterFlags;
extern const FlagTable kImplementedFlags;
extern const FlagTable kLibraryFlags;

const char* KindName(uint32_t kind);
const char* InvokeName(uint32_t invokeKind);
const char* CallingConventionName(uint32_t convention);

// "file.dll\1", "file.dll\2": every library in the file; empty for a .tlb.
std::vector<std::wstring> LibraryPaths(const std::wstring& file, const LibraryDescription& description);

// A declaration as IDL writes it: "long Count", "short Cells[4]" (a fixed array's bounds after
// the name).
std::string Declaration(const std::string& type, const std::string& name);
// "HRESULT Name([in] long a, [out, retval] BSTR* b)"; an unnamed parameter is called p<index>.
// With idlType, as IDL writes it to give the same function back: each type as idlType spells it,
// and a parameter with a default value marked optional only while the function's count of
// optional parameters (cParamsOpt) allows, as each optional attribute adds one to that count
// and defaultvalue alone makes a parameter optional without counting it.
std::string Signature(const reader::MemberContent& function,
                      const std::function<std::string(const std::string&)>& idlType = nullptr);

std::string TypesText(const TypesSource& source);
std::string TypesJson(const TypesSource& source);
std::string TypesIdl(const TypesSource& source);

} // namespace cli
