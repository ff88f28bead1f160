// The places in a compiled library that the reader's tests aim damage at.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace readertest {

// The offsets of the 32-bit fields of a compiled library's ("MSFT") header and table
// directory, which a reader trusts to find everything else: kHeaderWords words of the header
// after its magic, then each table's offset and length. Empty when bytes is not one.
constexpr size_t kHeaderWords = 20;
std::vector<size_t> HeaderFields(const std::string& bytes);

// The offset of the function count (the low half of the member counts) in the type-info entry
// of the index-th type, or 0 when bytes is not a compiled library that has it.
size_t FunctionCountOffset(const std::string& bytes, uint32_t index);

// Writes into folder the five damaged libraries known to take a process down in Wine's loader:
// a made library with interfaces cut by its last 33 bytes, the same with 61 bytes of its type
// descriptions zeroed, stdole2.tlb cut to 6,469 bytes, the made library with one type's function
// count raised from 6 to 244, and stdole32.tlb cut to 5,592 bytes. Gives their paths; empty when
// one could not be made.
std::vector<std::string> WriteKnownCrashers(const std::string& folder);

// Writes into folder a made library on which Wine's loader spins for hours on little memory (its
// custom-data list loops on itself, each step walking a million-entry GUID table); "" on failure.
std::string WriteSpinner(const std::string& folder);

} // namespace readertest
