#include "reader/content.h"

#include <cstring>

namespace reader {

namespace {

template <class Codec> void Fields(Codec& codec, ParameterContent& parameter);
template <class Codec> void Fields(Codec& codec, MemberContent& member);
template <class Codec> void Fields(Codec& codec, ImplementedContent& implemented);
template <class Codec> void Fields(Codec& codec, TypeContent& type);
template <class Codec> void Fields(Codec& codec, ImportContent& import);
template <class Codec> void Fields(Codec& codec, ImportedTypeContent& type);

// Numbers go as variable-length integers (seven bits a byte, low bits first; signed ones
// zigzagged), so that the many small ids, flags and lengths take a byte or two each.
class Encoder {
  public:
    void Put(uint32_t value) {
        while (value >= 0x80) {
            bytes_ += static_cast<char>(value | 0x80);
            value >>= 7;
        }
        bytes_ += static_cast<char>(value);
    }
    void Number(int32_t& value) {
        Put(static_cast<uint32_t>(value) << 1 ^ static_cast<uint32_t>(value >> 31));
    }
    void Number(uint32_t& value) { Put(value); }
    void Number(uint16_t& value) { Put(value); }
    void Flag(bool& value) { Put(value); }
    void Text(std::string& text) {
        Put(static_cast<uint32_t>(text.size()));
        bytes_ += text;
    }
    void Guid(GUID& guid) { bytes_.append(reinterpret_cast<const char*>(&guid), sizeof guid); }
    // A list: its length, then each element's fields.
    template <class T> void List(std::vector<T>& items) {
        Put(static_cast<uint32_t>(items.size()));
        for (T& item : items)
            Fields(*this, item);
    }
    std::string bytes_;
};

// Counts the fewest bytes an element takes in the record: every number a byte, every text and
// every list empty, and a member's shorter branch (a variable's), as a default element has it.
class Measure {
  public:
    template <class N> void Number(N&) { ++bytes_; }
    void Flag(bool&) { ++bytes_; }
    void Text(std::string&) { ++bytes_; }
    void Guid(GUID&) { bytes_ += sizeof(GUID); }
    template <class T> void List(std::vector<T>&) { ++bytes_; }
    size_t bytes_ = 0;
};

// The fewest bytes one element takes, from the one list of its fields, so that a count can be
// checked against the bytes left before it sizes an allocation.
template <class T> size_t MinimumBytes() {
    T element;
    Measure measure;
    Fields(measure, element);
    return measure.bytes_;
}

class Decoder {
  public:
    Decoder(const char* at, size_t size)
        : at_(reinterpret_cast<const unsigned char*>(at)), end_(at_ + size) {}
    void Number(uint32_t& value) {
        value = 0;
        for (int shift = 0; ok_; shift += 7) {
            if (at_ == end_ || shift > 28) {
                ok_ = false;
                break;
            }
            unsigned char byte = *at_++;
            // The fifth byte holds the top four bits: more would not fit in 32.
            ok_ = shift < 28 || byte <= 0x0F;
            value |= static_cast<uint32_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80)) {
                // A number has one encoding: a last byte of 0 would make a second, longer one.
                ok_ = ok_ && (byte != 0 || shift == 0);
                break;
            }
        }
    }
    void Number(int32_t& value) {
        uint32_t raw;
        Number(raw);
        value = static_cast<int32_t>(raw >> 1 ^ (0u - (raw & 1)));
    }
    void Number(uint16_t& value) {
        uint32_t raw;
        Number(raw);
        ok_ = ok_ && raw <= 0xFFFF;
        value = static_cast<uint16_t>(raw);
    }
    void Flag(bool& value) {
        uint32_t raw;
        Number(raw);
        ok_ = ok_ && raw <= 1;
        value = raw != 0;
    }
    // The child writes valid UTF-8 (a lone surrogate of the library's becomes U+FFFD), so
    // anything else is damage, never text for a renderer.
    void Text(std::string& text) {
        uint32_t size;
        Number(size);
        const char* chars = reinterpret_cast<const char*>(at_);
        if (!ok_ || static_cast<size_t>(end_ - at_) < size ||
            (size > 0 && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, chars, static_cast<int>(size),
                                             nullptr, 0) == 0)) {
            ok_ = false;
            return;
        }
        text.assign(chars, size);
        at_ += size;
    }
    void Guid(GUID& guid) {
        if (!ok_ || static_cast<size_t>(end_ - at_) < sizeof guid) {
            ok_ = false;
            return;
        }
        std::memcpy(&guid, at_, sizeof guid);
        at_ += sizeof guid;
    }
    // A count of more elements than the bytes left can hold is a lie. The list grows with the
    // elements actually read, never ahead of them: a count the bytes could hold, in elements
    // each many times larger in memory than in the record, still sizes no allocation.
    template <class T> void List(std::vector<T>& items) {
        uint32_t count;
        Number(count);
        if (!ok_ || count > static_cast<size_t>(end_ - at_) / MinimumBytes<T>()) {
            ok_ = false;
            return;
        }
        for (uint32_t i = 0; i < count && ok_; ++i) {
            items.emplace_back();
            Fields(*this, items.back());
        }
    }
    // True when every field was there and nothing is left over.
    bool Complete() const { return ok_ && at_ == end_; }
    // A kind read from the record must be one the renderers know.
    void Check(bool condition) { ok_ = ok_ && condition; }

  private:
    const unsigned char* at_;
    const unsigned char* end_;
    bool ok_ = true;
};

// The one list of each structure's fields, in record order, for both directions.
template <class Codec> void Fields(Codec& codec, ParameterContent& parameter) {
    codec.Text(parameter.name);
    codec.Text(parameter.type);
    codec.Number(parameter.flags);
    codec.Text(parameter.defaultValue);
}

template <class Codec> void Fields(Codec& codec, MemberContent& member) {
    codec.Flag(member.isFunction);
    codec.Number(member.id);
    codec.Text(member.name);
    codec.Text(member.documentation);
    codec.Number(member.helpContext);
    codec.Number(member.flags);
    codec.Text(member.type);
    if (member.isFunction) {
        codec.Number(member.invokeKind);
        codec.Number(member.functionKind);
        codec.Number(member.callingConvention);
        codec.Number(member.vtableOffset);
        codec.Number(member.optionalCount);
        codec.Text(member.entry);
        codec.List(member.parameters);
    } else {
        codec.Number(member.variableKind);
        codec.Text(member.value);
        codec.Number(member.offset);
    }
}

template <class Codec> void Fields(Codec& codec, ImplementedContent& implemented) {
    codec.Text(implemented.name);
    codec.Number(implemented.kind);
    codec.Number(implemented.flags);
}

template <class Codec> void Fields(Codec& codec, TypeContent& type) {
    codec.Number(type.kind);
    codec.Text(type.name);
    codec.Text(type.documentation);
    codec.Number(type.helpContext);
    codec.Guid(type.guid);
    codec.Number(type.major);
    codec.Number(type.minor);
    codec.Number(type.flags);
    codec.Number(type.size);
    codec.Number(type.alignment);
    codec.Number(type.vtableSize);
    codec.Text(type.aliasOf);
    codec.Text(type.dllName);
    codec.List(type.implemented);
    codec.List(type.members);
}

template <class Codec> void Fields(Codec& codec, ImportContent& import) {
    codec.Guid(import.guid);
    codec.Number(import.major);
    codec.Number(import.minor);
    codec.Text(import.name);
    codec.Text(import.file);
}

template <class Codec> void Fields(Codec& codec, ImportedTypeContent& type) {
    codec.Text(type.name);
    codec.Number(type.kind);
    codec.Guid(type.guid);
    codec.Number(type.vtableSize);
}

template <class Codec> void Fields(Codec& codec, LibraryContent& content) {
    codec.Text(content.helpFile);
    codec.Number(content.helpContext);
    codec.List(content.imports);
    codec.List(content.importedTypes);
    codec.List(content.types);
}

// The kinds the renderers name; anything else is a damaged record.
bool Known(const MemberContent& member) {
    if (!member.isFunction)
        return member.variableKind <= VAR_DISPATCH;
    return (member.invokeKind == INVOKE_FUNC || member.invokeKind == INVOKE_PROPERTYGET ||
            member.invokeKind == INVOKE_PROPERTYPUT || member.invokeKind == INVOKE_PROPERTYPUTREF) &&
           member.functionKind <= FUNC_DISPATCH && member.callingConvention < CC_MAX;
}

} // namespace

std::string EncodeContent(const LibraryContent& content) {
    Encoder encoder;
    Fields(encoder, const_cast<LibraryContent&>(content)); // the encoder only reads
    return std::move(encoder.bytes_);
}

bool DecodeContent(const char* bytes, size_t size, LibraryContent& content) {
    if (size > kMaxContentSize)
        return false;
    Decoder decoder(bytes, size);
    LibraryContent read;
    Fields(decoder, read);
    for (const ImportedTypeContent& type : read.importedTypes)
        decoder.Check(type.kind < TKIND_MAX);
    for (const TypeContent& type : read.types) {
        decoder.Check(type.kind < TKIND_MAX);
        for (const MemberContent& member : type.members)
            decoder.Check(Known(member));
    }
    if (!decoder.Complete())
        return false;
    content = std::move(read);
    return true;
}

} // namespace reader
