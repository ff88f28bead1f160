// A library with interfaces, made at run time for the reader's tests, and the places in a
// compiled library that damage is aimed at.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace readertest {

// Writes a library (CreateTypeLib2) named CorvaneShapes, version 1.2, with: IShapes, an
// interface of six methods deriving from IUnknown; IDrawing, a dual interface of four; an
// enumeration of three values; a structure of two fields; and the class Drawing implementing
// both interfaces.
HRESULT MakeLibraryWithInterfaces(const std::string& path, const GUID& guid);

std::string ReadFileBytes(const std::string& path);

// The offsets of the 32-bit fields of a compiled library's ("MSFT") header and table
// directory, which a reader trusts to find everything else: kHeaderWords words of the header
// after its magic, then each table's offset and length. Empty when bytes is not one.
constexpr size_t kHeaderWords = 20;
std::vector<size_t> HeaderFields(const std::string& bytes);

// The offset of the function count (the low half of the member counts) in the type-info entry
// of the index-th type, or 0 when bytes is not a compiled library that has it.
size_t FunctionCountOffset(const std::string& bytes, uint32_t index);

} // namespace readertest
